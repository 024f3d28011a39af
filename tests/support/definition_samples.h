// Definition files as the library writes them, for the tests of reading
// and importing them.
#ifndef FEROQ_TESTS_SUPPORT_DEFINITION_SAMPLES_H_
#define FEROQ_TESTS_SUPPORT_DEFINITION_SAMPLES_H_

#include <string>

namespace feroq::testing {

// `count` bytes of an icon block as the writer lays them out, eight a line;
// `first` is the value of byte 0, the others count up from it.
std::string HexLines(int count, int first);

// A file that gives every key, exactly as the writer lays it out but with
// LF line ends (the servers in the order the record's table hands them out):
// the application "Editor \u00E9" (browser name "editor") in
// \Applications\Office, servers S1 to S4 (each form of own program and
// directory), users CORP\alice and CORP\Sales Team, an icon.
std::string FullDefinitionFile();

}  // namespace feroq::testing

#endif  // FEROQ_TESTS_SUPPORT_DEFINITION_SAMPLES_H_
