#include "warmup.h"

#include "zipwriter.h"

#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace {

const char *const kContentTypes =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">
<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>
<Default Extension="xml" ContentType="application/xml"/>
<Override PartName="/word/document.xml" ContentType="application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"/>
</Types>)";

const char *const kRelationships =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">
<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="word/document.xml"/>
</Relationships>)";

// Text in the faces documents use most, so their fonts are loaded too.
const char *const kDocument =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main"><w:body>
<w:p><w:r><w:rPr><w:rFonts w:ascii="Liberation Serif" w:hAnsi="Liberation Serif"/><w:b/><w:sz w:val="56"/></w:rPr><w:t>Warm-up</w:t></w:r></w:p>
<w:p><w:r><w:rPr><w:rFonts w:ascii="Liberation Serif" w:hAnsi="Liberation Serif"/></w:rPr><w:t>The quick brown fox jumps over the lazy dog.</w:t></w:r></w:p>
<w:p><w:r><w:rPr><w:rFonts w:ascii="Liberation Sans" w:hAnsi="Liberation Sans"/><w:i/></w:rPr><w:t>The quick brown fox jumps over the lazy dog.</w:t></w:r></w:p>
<w:p><w:r><w:rPr><w:rFonts w:ascii="Carlito" w:hAnsi="Carlito"/></w:rPr><w:t>The quick brown fox jumps over the lazy dog.</w:t></w:r></w:p>
<w:sectPr><w:pgSz w:w="11906" w:h="16838"/><w:pgMar w:top="1134" w:right="1134" w:bottom="1134" w:left="1134" w:header="0" w:footer="0" w:gutter="0"/></w:sectPr>
</w:body></w:document>)";

} // namespace

bool writeWarmUpDocument(const std::filesystem::path &path)
{
    const std::string zip = makeStoredZip({{"[Content_Types].xml", kContentTypes},
                                           {"_rels/.rels", kRelationships},
                                           {"word/document.xml", kDocument}});
    // Written beside and renamed, so an engine never reads half a document.
    const std::filesystem::path partial = path.string() + ".partial";
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out.write(zip.data(), std::streamsize(zip.size()));
    out.close();
    std::error_code ec;
    if (!out)
        return false;
    std::filesystem::rename(partial, path, ec);
    return !ec;
}
