// The client launch file of a stored application (format in app_files.h).
#include "services/app_files/app_files.h"

namespace feroq::services {

namespace {

constexpr char16_t kHexDigits[] = u"0123456789ABCDEF";

// Characters that could end a value or begin a key, section or comment.
bool NeedsLaunchEscape(char32_t c) {
  return c < 0x20 || c == 0x7F || c == u'%' || c == u'[' || c == u']' || c == u'=' || c == u';' ||
         c == u'#' || c == 0x85 || c == 0x2028 || c == 0x2029;
}

void AppendPercentUtf8(char32_t c, std::u16string& out) {
  unsigned char bytes[3];
  int count = 0;
  if (c < 0x80) {
    bytes[count++] = static_cast<unsigned char>(c);
  } else if (c < 0x800) {
    bytes[count++] = static_cast<unsigned char>(0xC0 | (c >> 6));
    bytes[count++] = static_cast<unsigned char>(0x80 | (c & 0x3F));
  } else {
    bytes[count++] = static_cast<unsigned char>(0xE0 | (c >> 12));
    bytes[count++] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
    bytes[count++] = static_cast<unsigned char>(0x80 | (c & 0x3F));
  }
  for (int i = 0; i < count; ++i) {
    out.push_back(u'%');
    out.push_back(kHexDigits[bytes[i] >> 4]);
    out.push_back(kHexDigits[bytes[i] & 0xF]);
  }
}

std::u16string Key(std::u16string_view key, std::u16string_view escaped_value) {
  std::u16string line(key);
  line.push_back(u'=');
  line.append(escaped_value);
  return line;
}

std::u16string_view ColorsForDepth(BYTE depth, BYTE application_colors) {
  switch (depth) {
    case 4: return u"16";
    case 8: return u"256";
    case 15:
    case 16: return u"32768";
    case 24:
    case 32: return u"0x1000000";
    default: return ColorCountWord(application_colors);
  }
}

}  // namespace

std::u16string EscapeLaunchValue(std::u16string_view value) {
  std::u16string out;
  out.reserve(value.size());
  for (char16_t c : value) {
    // Surrogates are never escaped: the escaped characters all lie in the
    // Basic Multilingual Plane.
    if (NeedsLaunchEscape(c)) {
      AppendPercentUtf8(c, out);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

std::vector<std::u16string> ComposeLaunchFile(const AppFileSource& source, const ZQAPP_OBRFILE& request) {
  const store::AppRecordData& app = source.app;
  std::vector<std::u16string> lines;
  lines.push_back(u"; feroq client launch file");
  lines.push_back(u"[Launch]");
  lines.push_back(u"FileVersion=1");

  lines.push_back(u"[Application]");
  lines.push_back(Key(u"BrowserName", EscapeLaunchValue(app.browser_name)));
  lines.push_back(Key(u"FriendlyName", EscapeLaunchValue(app.friendly_name)));
  lines.push_back(Key(u"InitialProgram", EscapeLaunchValue(app.initial_program)));
  lines.push_back(Key(u"WorkingDirectory", EscapeLaunchValue(app.work_directory)));

  lines.push_back(u"[Servers]");
  lines.push_back(Key(u"Count", DecimalText(source.server_names.size())));
  for (std::size_t i = 0; i < source.server_names.size(); ++i) {
    lines.push_back(Key(u"Server" + DecimalText(i + 1), EscapeLaunchValue(source.server_names[i])));
  }

  lines.push_back(u"[Display]");
  lines.push_back(Key(u"Mode", request.windowed != 0 ? u"Window" : u"FullScreen"));
  lines.push_back(Key(u"WindowType", WindowTypeWord(app.window_type)));
  const ULONG width = request.windowWidth != 0 ? request.windowWidth : app.window_width;
  const ULONG height = request.windowHeight != 0 ? request.windowHeight : app.window_height;
  lines.push_back(Key(u"WindowWidth", DecimalText(width)));
  lines.push_back(Key(u"WindowHeight", DecimalText(height)));
  lines.push_back(Key(u"WindowScale", DecimalText(app.window_scale)));
  lines.push_back(Key(u"Colors", ColorsForDepth(request.colorDepth, app.window_color)));

  lines.push_back(u"[Connection]");
  lines.push_back(Key(u"Encryption", EncryptionWord(request.encryptionLevel)));
  lines.push_back(Key(u"Sound", request.sound != 0 ? u"Basic" : u"NoSound"));
  lines.push_back(Key(u"Compression", request.compression != 0 ? u"1" : u"0"));
  if (!request.preferredServer.IsEmpty()) {
    lines.push_back(Key(u"PreferredServer", EscapeLaunchValue(std::u16string_view(
                                                    request.preferredServer.c_str(), request.preferredServer.Length()))));
  }
  if (request.port != 0) lines.push_back(Key(u"Port", DecimalText(request.port)));
  return lines;
}

}  // namespace feroq::services
