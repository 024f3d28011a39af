// The application store's file composers: the client launch file
// (ZQAppSAL::CreateOBRFile) and the HTML page (ZQAppSAL::CreateHTMLFile) of
// one stored application. This comment is the one place where both formats
// are fixed.
//
// Both are composed from the stored application (browser name, friendly
// name, description, initial program, working directory, window settings,
// encryption, sound, servers by name) and the request record, as a list of
// lines. No line is ever empty: the library stops writing at the first empty
// line. The library writes each line followed by a line end.
//
// ---- Client launch file (INI-like) ----------------------------------------
//
//   ; feroq client launch file
//   [Launch]
//   FileVersion=1
//   [Application]
//   BrowserName=<browser name>
//   FriendlyName=<friendly name>
//   InitialProgram=<default initial program>
//   WorkingDirectory=<default working directory>
//   [Servers]
//   Count=<n>
//   Server1=<name of the first server>        (one key per server, 1..n,
//   ...                                         in the store's list order)
//   [Display]
//   Mode=Window | FullScreen
//   WindowType=<word>        (640X480 800X600 1024X768 1280X1024 1600X1200
//                             Custom Percent, or Other)
//   WindowWidth=<pixels>     (the request's width when not 0, else the
//   WindowHeight=<pixels>     application's default; likewise the height)
//   WindowScale=<percent>
//   Colors=16 | 256 | 32768 | 0x1000000 | Other
//   [Connection]
//   Encryption=Basic | RC5_Logon | RC5_40Bit | RC5_56Bit | RC5_128Bit
//   Sound=Basic | NoSound
//   Compression=1 | 0
//   PreferredServer=<name>   (only when the request names one)
//   Port=<number>            (only when the request's port is not 0)
//
// Request fields (ZQAPP_OBRFILE):
//   windowed         1: Mode=Window; 0: Mode=FullScreen. It decides the mode.
//   fullScreen       the caller's flag as given (low byte); not needed by the
//                    composer, which follows `windowed`.
//   windowWidth,     the window size the client should use; 0 takes the
//   windowHeight     application's default.
//   colorDepth       bits per pixel: 4 -> 16, 8 -> 256, 15 or 16 -> 32768,
//                    24 or 32 -> 0x1000000; 0 or any other value takes the
//                    application's default colours.
//   encryptionLevel  the store's encryption byte (1 Basic .. 5 RC5_128Bit);
//                    any other byte is written as Basic.
//   sound            1: Sound=Basic; 0: Sound=NoSound.
//   compression      written as Compression=1 or 0.
//   preferredServer  written as PreferredServer when not empty.
//   port             written as Port when not 0.
//
// Escaping (every value from the farm or the request): '%' and the
// characters that could end a value or start a key, section or comment in a
// line-based parser are written as %XX with the UTF-8 bytes of the
// character in upper-case hexadecimal: every control character below U+0020
// (CR and LF among them), U+007F, '[', ']', '=', ';', '#', and the line
// separators U+0085, U+2028 and U+2029. A client decodes %XX sequences and
// reads the result as UTF-8. So a value is always one line and never adds a
// key or a section.
//
// ---- HTML page ------------------------------------------------------------
//
// An HTML5 document in UTF-8 with a restrictive content security policy (no
// script, no external resource) that presents the application:
//   <title> and <h1 id="name">: the friendly name (the browser name when the
//     friendly name is empty);
//   <p id="browser-name">: the browser name;
//   <p id="description">: the description (request.showDescription, and
//     only when the description is not empty);
//   <ul id="servers">: one <li> per server name (request.showServers; at
//     most request.maxServers items when that is not 0);
//   <table id="display">: window type, size, colours, encryption and sound
//     (request.showDisplaySettings);
//   <a id="launch" href="<browser name>.obr">: the offer of the launch file,
//     a link relative to the page; export the launch file under that name
//     beside the page. The browser name in the link is percent-encoded
//     (UTF-8 bytes; everything but A-Z a-z 0-9 - . _ ~).
// Request fields (ZQAPP_HTMLFILE): pageWidth (CSS max-width of the body in
// pixels, 0: none), refreshSeconds (a meta refresh every so many seconds, 0:
// none), maxServers, showDescription, showServers, showDisplaySettings.
//
// Escaping: every value from the farm is written as text with & < > " '
// replaced by &amp; &lt; &gt; &quot; &#39; (in element content and in
// attribute values alike), so no value can open an element or leave an
// attribute.
#ifndef FEROQ_SERVICES_APP_FILES_APP_FILES_H_
#define FEROQ_SERVICES_APP_FILES_APP_FILES_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "feroq/services/service_base.h"
#include "feroq/services/zqapp.h"
#include "services/store/farm_store.h"

namespace feroq::services {

// What the composers read: the stored application and the names of its
// servers in the record's list order (a server the farm no longer knows is
// left out).
struct AppFileSource {
  store::AppRecordData app;
  std::vector<std::u16string> server_names;
};

// Reads application `id` from the farm behind `subsystem`. VORN_E_FAILURE
// (0x80000001) when no application has that identifier (or there is no
// farm); VORN_E_OUTOFMEMORY when memory runs out.
VSTATUS LoadAppFileSource(VORN_PIF_ISubSystem* subsystem, ULONG64 id, AppFileSource* source);

// The lines of the launch file and of the HTML page; raise std::bad_alloc.
std::vector<std::u16string> ComposeLaunchFile(const AppFileSource& source, const ZQAPP_OBRFILE& request);
std::vector<std::u16string> ComposeHTMLPage(const AppFileSource& source, const ZQAPP_HTMLFILE& request);

// Appends `lines` to `out` one string each. 0, or VORN_E_OUTOFMEMORY (the
// list may then hold part of the lines).
VSTATUS AppendLines(const std::vector<std::u16string>& lines, VORNMultiString& out);

// The escaping rules above.
std::u16string EscapeLaunchValue(std::u16string_view value);
std::u16string EscapeHtml(std::u16string_view value);

// The words both composers share.
std::u16string_view WindowTypeWord(BYTE store_byte);     // "Other" for none
std::u16string_view ColorCountWord(BYTE store_byte);     // "Other" for none
std::u16string_view EncryptionWord(BYTE store_byte);     // "Basic" for none
std::u16string DecimalText(ULONG64 value);

// ---- Test hooks (received_requests.cc, a build with FEROQ_TESTING only) ------
#if defined(FEROQ_TESTING)
// Copies of the last request each composer received in this process (the
// composers keep them for tests that check what the library sent).
struct ReceivedFileRequests {
  bool has_html = false;
  BYTE html[sizeof(ZQAPP_HTMLFILE)] = {};  // the record's bytes as received
  bool has_launch = false;
  BYTE launch_head[20] = {};               // the bytes before the string
  std::u16string launch_preferred_server;
  USHORT launch_port = 0;
};
FEROQ_SERVICES_API ReceivedFileRequests LastReceivedFileRequests();
FEROQ_SERVICES_API void ClearReceivedFileRequests();
// While set, both composers answer these lines instead of their own (after
// the application was found), so that tests can hand the library any list,
// empty strings included. std::nullopt restores the composers.
FEROQ_SERVICES_API void OverrideComposedLinesForTest(std::optional<std::vector<std::u16string>> lines);
// `composed`, or the lines set by OverrideComposedLinesForTest.
std::vector<std::u16string> ComposedOrOverride(std::vector<std::u16string> composed);
// Used by ZQAppSAL.
void RecordReceivedRequest(const ZQAPP_HTMLFILE& request);
void RecordReceivedRequest(const ZQAPP_OBRFILE& request);
#else
// Without the hooks the composers' lines go out as they are and nothing is
// kept.
inline std::vector<std::u16string> ComposedOrOverride(std::vector<std::u16string> composed) {
  return composed;
}
inline void RecordReceivedRequest(const ZQAPP_HTMLFILE&) {}
inline void RecordReceivedRequest(const ZQAPP_OBRFILE&) {}
#endif  // FEROQ_TESTING

}  // namespace feroq::services

#endif  // FEROQ_SERVICES_APP_FILES_APP_FILES_H_
