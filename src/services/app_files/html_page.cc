// The HTML page of a stored application (format in app_files.h).
#include "services/app_files/app_files.h"

#include <string>

#include "platform/platform.h"

namespace feroq::services {

namespace {

constexpr char16_t kHexDigits[] = u"0123456789ABCDEF";

bool IsUnreserved(char16_t c) {
  return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'-' ||
         c == u'.' || c == u'_' || c == u'~';
}

void AppendPercentByte(unsigned byte, std::u16string& out) {
  out.push_back(u'%');
  out.push_back(kHexDigits[(byte >> 4) & 0xF]);
  out.push_back(kHexDigits[byte & 0xF]);
}

// `value` as a URL path segment: its UTF-8 bytes, every byte but the
// unreserved characters percent-encoded. A lone surrogate counts as U+FFFD.
std::u16string PercentEncode(std::u16string_view value) {
  std::string utf8;
  platform::AppendUtf16AsUtf8(value.data(), value.size(), &utf8, true);
  std::u16string out;
  for (const char byte : utf8) {
    const auto c = static_cast<unsigned char>(byte);
    if (c < 0x80 && IsUnreserved(static_cast<char16_t>(c))) {
      out.push_back(static_cast<char16_t>(c));
    } else {
      AppendPercentByte(c, out);
    }
  }
  return out;
}

std::u16string Row(std::u16string_view label, std::u16string_view escaped_value) {
  std::u16string line = u"<tr><th>";
  line.append(label);
  line.append(u"</th><td>");
  line.append(escaped_value);
  line.append(u"</td></tr>");
  return line;
}

}  // namespace

std::u16string EscapeHtml(std::u16string_view value) {
  std::u16string out;
  out.reserve(value.size());
  for (char16_t c : value) {
    switch (c) {
      case u'&': out.append(u"&amp;"); break;
      case u'<': out.append(u"&lt;"); break;
      case u'>': out.append(u"&gt;"); break;
      case u'"': out.append(u"&quot;"); break;
      case u'\'': out.append(u"&#39;"); break;
      default: out.push_back(c);
    }
  }
  return out;
}

std::vector<std::u16string> ComposeHTMLPage(const AppFileSource& source, const ZQAPP_HTMLFILE& request) {
  const store::AppRecordData& app = source.app;
  const std::u16string title = EscapeHtml(app.friendly_name.empty() ? app.browser_name : app.friendly_name);
  std::vector<std::u16string> lines;
  lines.push_back(u"<!DOCTYPE html>");
  lines.push_back(u"<html lang=\"en\">");
  lines.push_back(u"<head>");
  lines.push_back(u"<meta charset=\"utf-8\">");
  lines.push_back(
      u"<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src 'unsafe-inline'\">");
  if (request.refreshSeconds != 0) {
    lines.push_back(u"<meta http-equiv=\"refresh\" content=\"" + DecimalText(request.refreshSeconds) + u"\">");
  }
  lines.push_back(u"<title>" + title + u"</title>");
  std::u16string style = u"<style>body{font-family:sans-serif;margin:1em auto;padding:0 1em;";
  if (request.pageWidth != 0) style += u"max-width:" + DecimalText(request.pageWidth) + u"px;";
  style += u"}th{text-align:left;padding-right:1em}</style>";
  lines.push_back(style);
  lines.push_back(u"</head>");
  lines.push_back(u"<body>");
  lines.push_back(u"<h1 id=\"name\">" + title + u"</h1>");
  lines.push_back(u"<p id=\"browser-name\">Browser name: <code>" + EscapeHtml(app.browser_name) +
                  u"</code></p>");
  if (request.showDescription != 0 && !app.description.empty()) {
    lines.push_back(u"<p id=\"description\">" + EscapeHtml(app.description) + u"</p>");
  }
  if (request.showServers != 0) {
    lines.push_back(u"<h2>Servers</h2>");
    lines.push_back(u"<ul id=\"servers\">");
    std::size_t shown = 0;
    for (const std::u16string& name : source.server_names) {
      if (request.maxServers != 0 && shown == request.maxServers) break;
      lines.push_back(u"<li>" + EscapeHtml(name) + u"</li>");
      ++shown;
    }
    lines.push_back(u"</ul>");
  }
  if (request.showDisplaySettings != 0) {
    lines.push_back(u"<h2>Display</h2>");
    lines.push_back(u"<table id=\"display\">");
    lines.push_back(Row(u"Window type", WindowTypeWord(app.window_type)));
    lines.push_back(Row(u"Window size", DecimalText(app.window_width) + u" x " + DecimalText(app.window_height)));
    lines.push_back(Row(u"Colours", ColorCountWord(app.window_color)));
    lines.push_back(Row(u"Encryption", EncryptionWord(app.encryption_level)));
    lines.push_back(Row(u"Sound", app.sound_type == 1 ? u"Basic" : u"NoSound"));
    lines.push_back(u"</table>");
  }
  lines.push_back(u"<p><a id=\"launch\" href=\"" + EscapeHtml(PercentEncode(app.browser_name)) +
                  u".obr\" type=\"application/x-feroq-launch\">Start " + title + u"</a></p>");
  lines.push_back(u"</body>");
  lines.push_back(u"</html>");
  return lines;
}

}  // namespace feroq::services
