// Export of a published application as a file: the file kinds and the
// options record of each kind (ZQWinAppObject::ExportFile).
//
// Every options record is a plain caller-owned structure that the library
// only reads during the call. What the launch file and the HTML page hold,
// and how each option shows in them, is documented with the store's
// composers (src/services/app_files/app_files.h); the definition file is
// written by the library itself.
#ifndef FEROQ_APP_EXPORT_H_
#define FEROQ_APP_EXPORT_H_

#include <cstdint>

#include "feroq/app_enums.h"
#include "feroq/types.h"

enum _ZQWinAppFileType : std::int32_t {
  // A client launch file (INI-like text) composed by the application store.
  ZQWinAppLaunchFile = 0,
  // An HTML page presenting the application, composed by the application
  // store.
  ZQWinAppHTMLFile = 1,
  // The application definition file, written by the library.
  ZQWinAppDefinitionFile = 2,
};

// Options of a client launch file (file type 0). Eleven 32-bit slots, in
// this order.
struct _LaunchFileOptions {
  // Width in pixels of the client's window; 0: the application's default.
  ULONG windowWidth;
  // Height in pixels of the client's window; 0: the application's default.
  ULONG windowHeight;
  // Non-zero: the client starts the application full screen and the window
  // size is not used. Zero: in a window.
  int fullScreen;
  // Colour depth in bits per pixel (only the low byte is passed on): 4, 8,
  // 15 or 16, 24 or 32; 0 or any other value: the application's default.
  LONG colorDepth;
  // Encryption the client asks for (ZQEncryptionBasic .. ZQEncryptionRC5_128Bit;
  // any other value asks for basic encryption).
  _ZQEncryptionLevel encryptionLevel;
  // Not read.
  ULONG reserved6;
  // Not read.
  ULONG reserved7;
  // Non-zero: the client plays the application's sound.
  int sound;
  // Non-zero: the client compresses the connection's data.
  int compression;
  // Name of the server the client tries first (null or empty: the
  // application's servers in their list order). Read during the call only.
  char16_t* preferredServer;
  // TCP port the client connects to (0: the client's default). Only the
  // first two bytes of the slot are read.
  USHORT port;
  USHORT reserved11;
};

// Options of an HTML page (file type 1). Six 32-bit slots, in this order.
struct _HTMLFileOptions {
  // Width in CSS pixels of the page's content column; 0: the whole window.
  ULONG pageWidth;
  // The page reloads itself every so many seconds; 0: never.
  ULONG refreshSeconds;
  // At most this many servers are listed; 0: all of them.
  ULONG maxServers;
  // Non-zero: the page shows the application's description.
  int showDescription;
  // Non-zero: the page lists the servers that publish the application.
  int showServers;
  // Non-zero: the page shows the application's display settings (window
  // size and type, colours, encryption, sound).
  int showDisplaySettings;
};

// Options of the application definition file (file type 2).
struct _DefinitionFileOptions {
  // Null: the icon goes into the definition file as two hexadecimal blocks.
  // Not null: the icon is written to this file as an ICO file instead and
  // the definition file holds no icon (an empty name writes no ICO file and
  // no icon blocks). A null options record counts as a record whose name is
  // null.
  char16_t* iconFileName;
};

#endif  // FEROQ_APP_EXPORT_H_
