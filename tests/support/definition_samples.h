// Definition files as the library writes them, for the tests of reading
// and importing them.
#ifndef FEROQ_TESTS_SUPPORT_DEFINITION_SAMPLES_H_
#define FEROQ_TESTS_SUPPORT_DEFINITION_SAMPLES_H_

#include <string>

namespace feroq::testing {

// `text` with CR LF for each LF, as the library writes line ends.
std::string WithCrLf(const std::string& text);

// tests/data/definition/sample.txt: a file that gives every key, exactly as
// the writer lays it out but with LF line ends (the servers in the order
// the record's table hands them out): the application "Editor \u00E9"
// (browser name "editor") in \Applications\Office, servers S1 to S4 (each
// form of own program and directory), users CORP\alice and CORP\Sales Team,
// an icon (mask byte i is i, colour byte i is i + 7, modulo 256).
std::string FullDefinitionFile();

}  // namespace feroq::testing

#endif  // FEROQ_TESTS_SUPPORT_DEFINITION_SAMPLES_H_
