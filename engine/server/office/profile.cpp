#include "profile.h"
#include "fileurl.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <linux/magic.h>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kMaxSlots = 64;
const char *const kReadyFile = "pagelift-ready";
// Changes whenever the settings below change, so old profiles are remade.
const char *const kSettingsVersion = "18";

// Editing aids that tiled rendering would otherwise draw on the pages (the grey band
// behind indexes, text and table boundaries, soft hyphens, formatting marks with the
// column break line and hidden characters, hidden paragraphs); no lock files
// or file locks on the documents the engine opens (it only reads them, and an engine
// that is killed would leave its lock file beside the document); no sidebar and no
// status bar, which an engine never shows but would otherwise build for every document
// (the status bar's word count also counts every word of it in the background); and
// no collecting of the document's words for completion, which also reads them all.
const char *const kSettings = R"(<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry" xmlns:xs="http://www.w3.org/2001/XMLSchema" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
<item oor:path="/org.openoffice.Office.UI/ColorScheme/ColorSchemes/org.openoffice.Office.UI:ColorScheme['LibreOffice']/DocBoundaries"><prop oor:name="IsVisible" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.UI/ColorScheme/ColorSchemes/org.openoffice.Office.UI:ColorScheme['LibreOffice']/TableBoundaries"><prop oor:name="IsVisible" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.UI/ColorScheme/ColorSchemes/org.openoffice.Office.UI:ColorScheme['LibreOffice']/WriterSectionBoundaries"><prop oor:name="IsVisible" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.UI/ColorScheme/ColorSchemes/org.openoffice.Office.UI:ColorScheme['LibreOffice']/ObjectBoundaries"><prop oor:name="IsVisible" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.UI/ColorScheme/ColorSchemes/org.openoffice.Office.UI:ColorScheme['LibreOffice']/WriterFieldShadings"><prop oor:name="IsVisible" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.UI/ColorScheme/ColorSchemes/org.openoffice.Office.UI:ColorScheme['LibreOffice']/WriterIdxShadings"><prop oor:name="IsVisible" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Writer/Content/NonprintingCharacter"><prop oor:name="OptionalHyphen" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Writer/Content/NonprintingCharacter"><prop oor:name="MetaCharacters" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Writer/Content/NonprintingCharacter"><prop oor:name="HiddenCharacter" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Writer/Content/NonprintingCharacter"><prop oor:name="HiddenParagraph" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Writer/Content/NonprintingCharacter"><prop oor:name="HiddenText" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Linguistic/SpellChecking"><prop oor:name="IsSpellAuto" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Recovery/AutoSave"><prop oor:name="Enabled" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Recovery/RecoveryInfo"><prop oor:name="Enabled" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="FirstRun" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="UseLocking" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="UseDocumentOOoLockFile" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="UseDocumentSystemFileLocking" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Writer/AutoFunction/Completion"><prop oor:name="Enable" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Writer/AutoFunction/Completion"><prop oor:name="CollectWords" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.UI.WriterWindowState/UIElements/States"><node oor:name="private:resource/statusbar/statusbar" oor:op="replace"><prop oor:name="Visible" oor:op="fuse"><value>false</value></prop></node></item>
<item oor:path="/org.openoffice.Office.Views/Windows"><node oor:name="swriter/10336" oor:op="replace"><prop oor:name="Visible" oor:op="fuse"><value>false</value></prop></node></item>
</oor:items>
)";

// The engine's macros, a Basic library in every profile.
//
// UseSystemLocale: LibreOfficeKit sets the office's locale to en-US when it starts,
// and the office takes the default paper of new documents (plain text, for one) from
// that locale's country: US Letter. A LibreOffice of the user's own leaves that
// setting empty, and then asks the system: paperconf (libpaper), else LC_PAPER. Every
// engine runs this macro after its start to put the setting back as LibreOffice has it.
//
// WriteImportFilter: the office's type detection chooses the import filter, and
// falls back to plain text for what it does not recognise; LibreOfficeKit does not
// tell which it chose. The macro writes the filter's name into a file.
//
// PrintHidden: opens a document as LibreOffice's own converter does, hidden (with the import filter
// and its options given, if any: documentkinds.h), and exports it to PDF with the export filter of
// its kind, as the converter chooses it. A picture, which the office opens as a drawing through its
// graphics filters ("PNG - Portable Network Graphic", "XPM", "draw_PCD_Photo_CD_Base"), is no
// document. Given a copy, it reads the copy as the document at the original's address: links
// resolve, and fields show the file's name, as for the original. LibreOfficeKit opens documents for
// a screen, and a document laid out for a screen may break its lines and pages differently from the
// same document laid out for print. No question is ever answered (a password, a repair): any ends
// the load. Given pages ("1-3,7", "3-") and the first of them, it prints those alone, as the
// export's page range counts pages: the printed ones, without the blank pages a text document's
// layout inserts; a presentation with a hidden slide, which the range would count, is printed
// whole. The answer file gets six lines: what came of it ("printed", "unprinted" when the export
// failed, "other" for a document that has no pages to print, "failed" when it could not be opened),
// the import filter, "changes" when a text document holds tracked changes or comments, whose
// authors the office keeps for good, what the office took the document for ("text", "presentation",
// "spreadsheet", "drawing", "database", "formula", or nothing), the pages printed (nothing: all of
// them) and the number of pages the whole document prints (known when only some were); then the
// address of every picture a text document links to, one a line.
const char *const kBasicLibrariesStart =
    R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE library:libraries PUBLIC "-//OpenOffice.org//DTD OfficeDocument 1.0//EN" "libraries.dtd">
<library:libraries xmlns:library="http://openoffice.org/2000/library" xmlns:xlink="http://www.w3.org/1999/xlink">
)";
const char *const kBasicLibrariesEnd =
    R"( <library:library library:name="Pagelift" library:link="false"/>
</library:libraries>
)";
const char *const kBasicLibrary =
    R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE library:library PUBLIC "-//OpenOffice.org//DTD OfficeDocument 1.0//EN" "library.dtd">
<library:library xmlns:library="http://openoffice.org/2000/library" library:name="Pagelift" library:readonly="true" library:passwordprotected="false">
 <library:element library:name="Engine"/>
</library:library>
)";
const char *const kBasicModule =
    R"(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE script:module PUBLIC "-//OpenOffice.org//DTD OfficeDocument 1.0//EN" "module.dtd">
<script:module xmlns:script="http://openoffice.org/2000/script" script:name="Engine" script:language="StarBasic">
Sub UseSystemLocale
    Dim path(0) As New com.sun.star.beans.PropertyValue
    path(0).Name = &quot;nodepath&quot;
    path(0).Value = &quot;/org.openoffice.Setup/L10N&quot;
    provider = CreateUnoService(&quot;com.sun.star.configuration.ConfigurationProvider&quot;)
    locale = provider.createInstanceWithArguments(&quot;com.sun.star.configuration.ConfigurationUpdateAccess&quot;, path())
    locale.setPropertyValue(&quot;ooSetupSystemLocale&quot;, &quot;&quot;)
    locale.commitChanges()
End Sub

Sub WriteImportFilter(document As String, answer As String)
    filter = &quot;&quot;
    components = StarDesktop.getComponents().createEnumeration()
    Do While components.hasMoreElements()
        component = components.nextElement()
        If ConvertFromURL(component.getURL()) = ConvertFromURL(document) Then
            For Each argument In component.getArgs()
                If argument.Name = &quot;FilterName&quot; Then filter = argument.Value
            Next
        End If
    Loop
    Open ConvertFromURL(answer) For Output As #1
    Print #1, filter
    Close #1
End Sub

Sub PrintHidden(document As String, pdf As String, answer As String, copy As String, pages As String, firstPage As String, importFilter As String, importOptions As String)
    Dim result As String, filter As String, changes As String, links As String, kind As String, count As String
    Dim loaded As Object
    result = &quot;failed&quot;
    On Error Goto finish
    Dim options(7) As New com.sun.star.beans.PropertyValue
    options(0).Name = &quot;Hidden&quot;
    options(0).Value = True
    options(1).Name = &quot;MacroExecutionMode&quot;
    options(1).Value = com.sun.star.document.MacroExecMode.NEVER_EXECUTE
    options(2).Name = &quot;AsTemplate&quot;
    options(2).Value = False
    options(3).Name = &quot;InteractionHandler&quot;
    options(3).Value = CreateUnoListener(&quot;Refuse_&quot;, &quot;com.sun.star.task.XInteractionHandler&quot;)
    If copy &lt;&gt; &quot;&quot; Then
        options(4).Name = &quot;InputStream&quot;
        options(4).Value = CreateUnoService(&quot;com.sun.star.ucb.SimpleFileAccess&quot;).openFileRead(copy)
    End If
    If importFilter &lt;&gt; &quot;&quot; Then
        options(5).Name = &quot;FilterName&quot;
        options(5).Value = importFilter
        options(6).Name = &quot;FilterOptions&quot;
        options(6).Value = importOptions
        &apos; Without filter data the office asks for the filter&apos;s options all the same.
        options(7).Name = &quot;FilterData&quot;
        options(7).Value = Array()
    End If
    loaded = StarDesktop.loadComponentFromURL(document, &quot;_blank&quot;, 0, options())
    If IsNull(loaded) Then Goto finish
    For Each argument In loaded.getArgs()
        If argument.Name = &quot;FilterName&quot; Then filter = argument.Value
    Next
    Dim export(0) As New com.sun.star.beans.PropertyValue
    export(0).Name = &quot;FilterName&quot;
    If loaded.supportsService(&quot;com.sun.star.text.GenericTextDocument&quot;) Then
        kind = &quot;text&quot;
        export(0).Value = &quot;writer_pdf_Export&quot;
        If loaded.supportsService(&quot;com.sun.star.text.WebDocument&quot;) Then export(0).Value = &quot;writer_web_pdf_Export&quot;
    ElseIf loaded.supportsService(&quot;com.sun.star.presentation.PresentationDocument&quot;) Then
        kind = &quot;presentation&quot;
        export(0).Value = &quot;impress_pdf_Export&quot;
    ElseIf loaded.supportsService(&quot;com.sun.star.sheet.SpreadsheetDocument&quot;) Then
        kind = &quot;spreadsheet&quot;
        export(0).Value = &quot;calc_pdf_Export&quot;
    ElseIf loaded.supportsService(&quot;com.sun.star.drawing.DrawingDocument&quot;) And InStr(filter, &quot; - &quot;) = 0 And filter &lt;&gt; &quot;XPM&quot; And Left(filter, 8) &lt;&gt; &quot;draw_PCD&quot; Then
        kind = &quot;drawing&quot;
        export(0).Value = &quot;draw_pdf_Export&quot;
    Else
        If loaded.supportsService(&quot;com.sun.star.sdb.OfficeDatabaseDocument&quot;) Then kind = &quot;database&quot;
        If loaded.supportsService(&quot;com.sun.star.formula.FormulaProperties&quot;) Then kind = &quot;formula&quot;
        result = &quot;other&quot;
        Goto finish
    End If
    If kind = &quot;text&quot; Then
        If loaded.getRedlines().createEnumeration().hasMoreElements() Then changes = &quot;changes&quot;
        fields = loaded.getTextFields().createEnumeration()
        Do While changes = &quot;&quot; And fields.hasMoreElements()
            If fields.nextElement().supportsService(&quot;com.sun.star.text.textfield.Annotation&quot;) Then changes = &quot;changes&quot;
        Loop
    End If
    result = &quot;unprinted&quot;
    If kind = &quot;presentation&quot; And pages &lt;&gt; &quot;&quot; Then
        slides = loaded.getDrawPages()
        For n = 0 To slides.getCount() - 1
            If Not slides.getByIndex(n).Visible Then pages = &quot;&quot;
        Next
    End If
    If pages = &quot;&quot; Then
        loaded.storeToURL(pdf, export())
    Else
        Dim counting(3) As New com.sun.star.beans.PropertyValue
        counting(0).Name = &quot;ExportNotesPages&quot;
        counting(0).Value = False
        counting(1).Name = &quot;IsFirstPage&quot;
        counting(1).Value = True
        counting(2).Name = &quot;IsLastPage&quot;
        counting(2).Value = False
        counting(3).Name = &quot;IsSkipEmptyPages&quot;
        counting(3).Value = True
        count = CStr(loaded.getRendererCount(loaded, counting()))
        &apos; A range wholly past the end prints nothing, which the export takes for a failure.
        If CLng(firstPage) &gt; CLng(count) Then pages = count
        &apos; Filter data replace the export&apos;s settings altogether: those it takes when given none
        &apos; go along with the range, or pictures would be encoded otherwise.
        Dim node(0) As New com.sun.star.beans.PropertyValue
        node(0).Name = &quot;nodepath&quot;
        node(0).Value = &quot;/org.openoffice.Office.Common/Filter/PDF/Export&quot;
        provider = CreateUnoService(&quot;com.sun.star.configuration.ConfigurationProvider&quot;)
        settings = provider.createInstanceWithArguments(&quot;com.sun.star.configuration.ConfigurationAccess&quot;, node())
        names = settings.getElementNames()
        Dim chosen(UBound(names) + 1) As New com.sun.star.beans.PropertyValue
        For n = 0 To UBound(names)
            chosen(n).Name = names(n)
            chosen(n).Value = settings.getByName(names(n))
        Next
        chosen(UBound(names) + 1).Name = &quot;PageRange&quot;
        chosen(UBound(names) + 1).Value = pages
        Dim ranged(1) As New com.sun.star.beans.PropertyValue
        ranged(0).Name = &quot;FilterName&quot;
        ranged(0).Value = export(0).Value
        ranged(1).Name = &quot;FilterData&quot;
        ranged(1).Value = chosen()
        loaded.storeToURL(pdf, ranged())
    End If
    result = &quot;printed&quot;
    If kind &lt;&gt; &quot;text&quot; Then Goto finish
    On Error Resume Next
    graphics = loaded.getGraphicObjects()
    For Each frameName In graphics.getElementNames()
        picture = graphics.getByName(frameName).Graphic
        If Not IsNull(picture) Then
            If picture.Linked Then links = links &amp; picture.OriginURL &amp; Chr(10)
        End If
    Next
finish:
    On Error Resume Next
    If Not IsNull(loaded) Then loaded.close(True)
    Open ConvertFromURL(answer) For Output As #1
    Print #1, result
    Print #1, filter
    Print #1, changes
    Print #1, kind
    Print #1, pages
    Print #1, count
    Print #1, links
    Close #1
End Sub

Sub Refuse_handle(request As Object)
    For Each continuation In request.getContinuations()
        If HasUnoInterfaces(continuation, &quot;com.sun.star.task.XInteractionAbort&quot;) Then continuation.select()
    Next
End Sub
</script:module>
)";

bool writeText(const fs::path &path, const char *text)
{
    std::error_code ec;
    fs::create_directories(path.parent_path(), ec);
    std::ofstream out(path, std::ios::binary);
    out << text;
    out.close();
    return bool(out);
}

// Identifies the office installation: a new office version remakes the profile.
std::string installationStamp(const std::string &installDir)
{
    std::ifstream in(fs::path(installDir) / "versionrc", std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return std::string(kSettingsVersion) + " " +
           std::to_string(std::hash<std::string>{}(content.str())) + "\n";
}

// FNV-1a, in hexadecimal: the same name for the same text in every build.
std::string stableHash(const std::string &text)
{
    uint64_t hash = 14695981039346656037u;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211u;
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return hex;
}

// Whether `folder` is a folder of this user's that no one else may enter, in memory
// with at least `room` bytes free. A link is never taken: in a folder anyone may
// write to, another user could have put it there.
bool isPrivateMemoryFolder(const fs::path &folder, uint64_t room)
{
    struct stat info = {};
    if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::getuid() || (info.st_mode & 077) != 0)
        return false;
    struct statfs system = {};
    if (::statfs(folder.c_str(), &system) != 0 || system.f_type != TMPFS_MAGIC)
        return false;
    return uint64_t(system.f_bavail) * uint64_t(system.f_bsize) >= room;
}

} // namespace

fs::path ProfileSlot::memoryFolder()
{
    // Documents of hundreds of megabytes unpack into temporary files; a small memory
    // folder (a container's /dev/shm is often 64 MB) would make them fail to open.
    constexpr uint64_t kRoom = uint64_t(1) << 30;
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/' && isPrivateMemoryFolder(runtime, kRoom)) {
        const fs::path folder = fs::path(runtime) / "pagelift";
        ::mkdir(folder.c_str(), 0700);
        if (isPrivateMemoryFolder(folder, kRoom))
            return folder;
    }
    const fs::path shared = "/dev/shm/pagelift-" + std::to_string(::getuid());
    ::mkdir(shared.c_str(), 0700);
    if (isPrivateMemoryFolder(shared, kRoom))
        return shared;
    return {};
}

ProfileSlot::ProfileSlot(int lockFd, fs::path folder)
    : m_lockFd(lockFd), m_folder(std::move(folder))
{
    // Named after the whole profile path: profiles under two cache folders (a test's,
    // the user's) share slot numbers.
    const fs::path memory = memoryFolder();
    m_temporaryFolder =
        memory.empty() ? m_folder / "temp" : memory / ("temp-" + stableHash(m_folder.string()));
}

ProfileSlot::~ProfileSlot()
{
    ::close(m_lockFd);
}

std::unique_ptr<ProfileSlot> ProfileSlot::acquire(const fs::path &root, std::string &error)
{
    std::error_code ec;
    fs::create_directories(root, ec);
    if (ec) {
        error = "cannot create " + root.string() + ": " + ec.message();
        return nullptr;
    }
    for (int slot = 0; slot < kMaxSlots; ++slot) {
        const std::string name = "engine-profile-" + std::to_string(slot);
        const fs::path lockPath = root / (name + ".lock");
        const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) {
            error = "cannot open " + lockPath.string();
            return nullptr;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return std::unique_ptr<ProfileSlot>(new ProfileSlot(fd, root / name));
        ::close(fd);
    }
    error = "every engine profile under " + root.string() + " is in use";
    return nullptr;
}

namespace {

// Leaves `folder` in place and empty, whatever it held. The folder itself stays: a
// sandboxed launcher may change what lies in it, not its parent.
void emptyFolder(const fs::path &folder)
{
    std::error_code ec;
    if (fs::is_symlink(folder, ec))
        fs::remove(folder, ec);
    fs::create_directories(folder, ec);
    std::vector<fs::path> entries;
    for (const auto &entry : fs::directory_iterator(folder, ec))
        entries.push_back(entry.path());
    for (const fs::path &entry : entries)
        fs::remove_all(entry, ec);
}

} // namespace

std::string ProfileSlot::url() const
{
    return fileUrl(m_folder);
}

void ProfileSlot::clearTemporaryFolder() const
{
    emptyFolder(temporaryFolder());
    std::error_code ec;
    fs::remove_all(documentFontsFolder(m_folder), ec);
}

fs::path ProfileSlot::documentFontsFolder(const fs::path &folder)
{
    return folder / "user/temp/embeddedfonts/fromdocs";
}

fs::path ProfileSlot::preinitialisationFolder() const
{
    return m_folder / "preinit";
}

void ProfileSlot::clearPreinitialisationFolder() const
{
    emptyFolder(preinitialisationFolder());
}

bool ProfileSlot::isReady(const std::string &installDir) const
{
    std::ifstream in(m_folder / kReadyFile, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return in && content.str() == installationStamp(installDir);
}

bool ProfileSlot::reset(std::string &error)
{
    std::error_code ec;
    fs::remove_all(m_folder, ec);
    fs::create_directories(m_folder / "user", ec);
    if (ec) {
        error = "cannot create " + m_folder.string() + ": " + ec.message();
        return false;
    }
    if (!writeText(m_folder / "user" / "registrymodifications.xcu", kSettings)) {
        error = "cannot write the settings of " + m_folder.string();
        return false;
    }
    return true;
}

bool ProfileSlot::recordOfficeVersion(const fs::path &folder, const std::string &version)
{
    const fs::path settings = folder / "user" / "registrymodifications.xcu";
    std::ifstream in(settings, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    std::string text = content.str();
    const size_t end = text.rfind("</oor:items>");
    if (!in || end == std::string::npos || version.empty() ||
        version.find_first_not_of("0123456789.") != std::string::npos)
        return false;
    text.insert(end, "<item oor:path=\"/org.openoffice.Setup/Product\"><prop "
                     "oor:name=\"ooSetupLastVersion\" oor:op=\"fuse\"><value>" +
                         version + "</value></prop></item>\n");
    std::ofstream out(settings, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    return bool(out);
}

bool ProfileSlot::addMacros(const fs::path &folder)
{
    // The office's first start lists the libraries it made itself (Standard) and
    // nothing else, so the list is written after it.
    const fs::path basic = folder / "user" / "basic";
    std::string libraries = kBasicLibrariesStart;
    if (fs::exists(basic / "Standard"))
        libraries += " <library:library library:name=\"Standard\" library:link=\"false\"/>\n";
    libraries += kBasicLibrariesEnd;
    return writeText(basic / "script.xlc", libraries.c_str()) &&
           writeText(basic / "Pagelift" / "script.xlb", kBasicLibrary) &&
           writeText(basic / "Pagelift" / "Engine.xba", kBasicModule);
}

void ProfileSlot::markReady(const std::string &installDir)
{
    std::ofstream(m_folder / kReadyFile, std::ios::binary) << installationStamp(installDir);
}

fs::path engineCacheRoot()
{
    const char *cache = std::getenv("XDG_CACHE_HOME");
    if (cache && cache[0] == '/')
        return fs::path(cache) / "pagelift";
    const char *home = std::getenv("HOME");
    return fs::path(home && home[0] ? home : "/tmp") / ".cache" / "pagelift";
}
