// feroq-example: opens the farm and prints its name, versions and servers.
//
// Uses the public interface only. The farm is the services' own setting
// (FEROQ_FARM; see the README).
#include <cstdio>
#include <string>

#include "feroq/feroq.h"

namespace {

std::string ToUtf8(const WCHAR* text) {
  std::string out;
  for (const WCHAR* p = text; p != nullptr && *p != 0; ++p) {
    char32_t c = *p;
    if (c >= 0xD800 && c <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (p[1] - 0xDC00);
      ++p;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace

int main() {
  FarmObject farm;
  int exit_code = 0;

  WCHAR* name = nullptr;
  HRESULT hr = farm.GetFarmName(&name);
  if (hr == S_OK) {
    std::printf("farm: %s\n", ToUtf8(name).c_str());
    farm.FreeMemory(name);
  } else {
    std::printf("farm: (no name, 0x%08X)\n", static_cast<unsigned>(hr));
    exit_code = 1;
  }

  LONG version = 0;
  farm.GetVersion(&version);
  std::printf("library version: %d\n", version);
  hr = farm.GetAppSubsysVersion(&version);
  if (hr == S_OK) {
    std::printf("application store version: %d\n", version);
  } else {
    std::printf("application store version: unavailable (0x%08X)\n", static_cast<unsigned>(hr));
    exit_code = 1;
  }

  WCHAR* servers = nullptr;
  ULONG count = 0;
  hr = farm.EnumerateServers(&servers, &count);
  if (hr == S_OK) {
    std::printf("servers: %u\n", count);
    for (const WCHAR* p = servers; *p != 0; p += std::char_traits<char16_t>::length(p) + 1) {
      std::printf("  %s\n", ToUtf8(p).c_str());
    }
    farm.FreeMemory(servers);
  } else {
    std::printf("servers: unavailable (0x%08X)\n", static_cast<unsigned>(hr));
    exit_code = 1;
  }
  return exit_code;
}
