#pragma once

#include <cstdint>

// The automation constants of the word processor's calls, as the page exporter passes
// them and the engine understands them.
namespace automation {

// BuiltInDocumentProperties: the page count.
inline constexpr int32_t kPropertyPages = 14;
// Selection.GoTo: What = a page; Which = counted from the start, the next one, the last.
inline constexpr int32_t kGoToPage = 1;
inline constexpr int32_t kGoToAbsolute = 1;
inline constexpr int32_t kGoToNext = 2;
inline constexpr int32_t kGoToLast = -1;
// MoveUp and EndKey units: lines, the whole story.
inline constexpr int32_t kLine = 5;
inline constexpr int32_t kStory = 6;
// Moving the active end only (extend) or the whole selection (move).
inline constexpr int32_t kMove = 0;
inline constexpr int32_t kExtend = 1;
// ActiveDocument.Close
inline constexpr int32_t kDoNotSaveChanges = 0;

} // namespace automation
