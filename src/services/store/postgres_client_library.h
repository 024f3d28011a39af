// The PostgreSQL client library (libpq) is loaded when the first farm on a
// server is opened, not when a program that uses feroq starts: linked, it
// brings some twenty more libraries (TLS, Kerberos, LDAP) whose loading cost
// every process about 5 ms of CPU at its start, farm file or not.
//
// The libpq functions the store calls are defined in this library and
// forward to the loaded libpq (postgres_client_library.cc), so the store's
// code calls them as it would the linked library.
#pragma once

namespace feroq::store {

// Loads libpq and finds every function the store calls, once for the
// process. False when it cannot be loaded or lacks one of them (a libpq
// older than 14): then no farm on a server can be opened, and none of its
// functions may be called.
bool LoadPostgresClientLibrary();

}  // namespace feroq::store
