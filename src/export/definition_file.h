// The application definition file: a text description of one published
// application from which new applications can be published.
//
// Written byte for byte in the system's fixed format: header comments,
// "BeginApplication", one keyed line per property ("    Key = value"),
// the four flag lists, the parent folder, the server and user blocks with
// their count comments, the icon as two hexadecimal blocks (or an ICO file
// beside the definition file), "EndApplication". Line ends are CR LF and
// wide values UTF-8 on every platform (export/text_buffer.h). No value is
// escaped.
//
// Choices of this implementation:
// - Window type 8 (and any value without a word) writes no
//   "DefaultWindowType" line: the format has words for values 0 to 7 only,
//   and an invented word would not be understood by a reader of the format.
// - A null options record counts as a record without an icon file name:
//   the icon is written into the definition file.
#ifndef FEROQ_EXPORT_DEFINITION_FILE_H_
#define FEROQ_EXPORT_DEFINITION_FILE_H_

#include <string_view>

#include "export/text_buffer.h"
#include "feroq/app_export.h"
#include "feroq/app_words.h"
#include "feroq/types.h"

class FarmObject;
class ZQWinAppObject;

namespace feroq {

// Writes the definition file of `app` to `path` (created, or truncated when
// it exists). Every property is read through the object's public getters
// and list iterators; every string and record a getter hands out is given
// back to the farm's heap (`farm`'s FreeMemory) once written. A getter that fails leaves its line (or
// list, comment or block) out and never changes the result.
// Results: S_OK; E_FAIL when the file cannot be created (nothing is read or
// written then) or when writing or closing it fails; E_OUTOFMEMORY when the
// text cannot be built (the file is then left empty).
HRESULT WriteApplicationDefinitionFile(FarmObject* farm, ZQWinAppObject* app, const char16_t* path,
                                       const _DefinitionFileOptions* options);

// ---- Line formats (definition_format.cc) -----------------------------------

// "    key = word\n"
void EnumLine(TextBuffer& out, std::string_view key, std::string_view word);
// "    key = <decimal>\n" (signed, as "%d")
void NumberLine(TextBuffer& out, std::string_view key, LONG value);
// "    key = \"text\"\n"
void QuotedTextLine(TextBuffer& out, std::string_view key, const char16_t* text);
// "    key = text\n"
void BareTextLine(TextBuffer& out, std::string_view key, const char16_t* text);
// The bare line when `text` begins with a double quote, else the quoted one.
void QuotedOrBareLine(TextBuffer& out, std::string_view key, const char16_t* text);
// "    key = \"word\"\n"
void QuotedWordLine(TextBuffer& out, std::string_view key, std::string_view word);

// The flag list of `list`: its key, the words of its bits set in `value`
// in the list's order, every word after the first on its own line indented
// by 4 + key length + 3 blanks; "\"\"" when `value` is 0 (and no word at all
// when only bits without a word are set); then ".\n".
void FlagListLines(TextBuffer& out, const FlagWords& list, LONG value);

// The "DefaultWindowColor" line of a window colour value; nothing for a
// value outside 0..4.
void WindowColorLine(TextBuffer& out, std::string_view key, LONG color);

// "    key =" and the bytes, eight a line in two groups of four, each line
// after a line end and eight blanks; the last byte ends with ".\n".
void HexBlock(TextBuffer& out, std::string_view key, const BYTE* bytes, int count);

}  // namespace feroq

#endif  // FEROQ_EXPORT_DEFINITION_FILE_H_
