// The libpq functions the PostgreSQL store calls, forwarding to libpq loaded
// at run time (see postgres_client_library.h).
#include "services/store/postgres_client_library.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "platform/platform.h"

// The definitions below stay inside this library: they must not take the
// place of libpq's own functions for the rest of the process.
#pragma GCC visibility push(hidden)
#include <libpq-fe.h>

#define FEROQ_LIBPQ_FUNCTIONS(X)                                                                          \
  X(PQclear) X(PQcmdTuples) X(PQconnectdbParams) X(PQconsumeInput) X(PQenterPipelineMode)                \
  X(PQerrorMessage) X(PQescapeIdentifier) X(PQescapeLiteral) X(PQexec) X(PQexecParams) X(PQexecPrepared) \
  X(PQexitPipelineMode) X(PQfinish) X(PQflush) X(PQfreemem) X(PQgetResult) X(PQgetisnull)                \
  X(PQgetlength) X(PQgetvalue) X(PQisBusy) X(PQnfields) X(PQnotifies) X(PQntuples) X(PQparameterStatus)  \
  X(PQpipelineStatus) X(PQpipelineSync) X(PQprepare) X(PQresultErrorField) X(PQresultErrorMessage)      \
  X(PQresultStatus) X(PQsendFlushRequest) X(PQsendPrepare) X(PQsendQuery) X(PQsendQueryParams)          \
  X(PQsendQueryPrepared) X(PQserverVersion) X(PQsetnonblocking) X(PQsocket) X(PQsslInUse) X(PQstatus)  \
  X(PQtransactionStatus)

namespace {

enum LibpqFunction : int {
#define FEROQ_LIBPQ_ENUM(name) k_##name,
  FEROQ_LIBPQ_FUNCTIONS(FEROQ_LIBPQ_ENUM)
#undef FEROQ_LIBPQ_ENUM
  kLibpqFunctionCount
};

constexpr const char* kLibpqFunctionNames[] = {
#define FEROQ_LIBPQ_NAME(name) #name,
    FEROQ_LIBPQ_FUNCTIONS(FEROQ_LIBPQ_NAME)
#undef FEROQ_LIBPQ_NAME
};

void* g_functions[kLibpqFunctionCount] = {};
bool g_loaded = false;
std::once_flag g_load_once;

void LoadOnce() {
  void* library = feroq::platform::LoadSharedLibrary("libpq.so.5");
  if (library == nullptr) return;
  void* found[kLibpqFunctionCount] = {};
  for (int i = 0; i < kLibpqFunctionCount; ++i) {
    found[i] = feroq::platform::FindLibraryFunction(library, kLibpqFunctionNames[i]);
    if (found[i] == nullptr) return;
  }
  for (int i = 0; i < kLibpqFunctionCount; ++i) g_functions[i] = found[i];
  g_loaded = true;
}

// The loaded function; a call before a successful load is a fault of the
// store's code (every way into it loads first), and ends the process rather
// than jump to nowhere.
void* Loaded(LibpqFunction function) {
  if (!feroq::store::LoadPostgresClientLibrary()) {
    std::fprintf(stderr, "feroq: %s called without the PostgreSQL client library\n", kLibpqFunctionNames[function]);
    std::abort();
  }
  return g_functions[function];
}

}  // namespace

bool feroq::store::LoadPostgresClientLibrary() {
  std::call_once(g_load_once, LoadOnce);
  return g_loaded;
}

#define FEROQ_LIBPQ(name) reinterpret_cast<decltype(&::name)>(Loaded(k_##name))

extern "C" {

void PQclear(PGresult* res) { FEROQ_LIBPQ(PQclear)(res); }
char* PQcmdTuples(PGresult* res) { return FEROQ_LIBPQ(PQcmdTuples)(res); }
PGconn* PQconnectdbParams(const char* const* keywords, const char* const* values, int expand_dbname) {
  return FEROQ_LIBPQ(PQconnectdbParams)(keywords, values, expand_dbname);
}
int PQconsumeInput(PGconn* conn) { return FEROQ_LIBPQ(PQconsumeInput)(conn); }
int PQenterPipelineMode(PGconn* conn) { return FEROQ_LIBPQ(PQenterPipelineMode)(conn); }
char* PQerrorMessage(const PGconn* conn) { return FEROQ_LIBPQ(PQerrorMessage)(conn); }
char* PQescapeIdentifier(PGconn* conn, const char* str, size_t len) {
  return FEROQ_LIBPQ(PQescapeIdentifier)(conn, str, len);
}
char* PQescapeLiteral(PGconn* conn, const char* str, size_t len) { return FEROQ_LIBPQ(PQescapeLiteral)(conn, str, len); }
PGresult* PQexec(PGconn* conn, const char* query) { return FEROQ_LIBPQ(PQexec)(conn, query); }
PGresult* PQexecParams(PGconn* conn, const char* command, int nParams, const Oid* paramTypes,
                       const char* const* paramValues, const int* paramLengths, const int* paramFormats,
                       int resultFormat) {
  return FEROQ_LIBPQ(PQexecParams)(conn, command, nParams, paramTypes, paramValues, paramLengths, paramFormats,
                                   resultFormat);
}
PGresult* PQexecPrepared(PGconn* conn, const char* stmtName, int nParams, const char* const* paramValues,
                         const int* paramLengths, const int* paramFormats, int resultFormat) {
  return FEROQ_LIBPQ(PQexecPrepared)(conn, stmtName, nParams, paramValues, paramLengths, paramFormats, resultFormat);
}
int PQexitPipelineMode(PGconn* conn) { return FEROQ_LIBPQ(PQexitPipelineMode)(conn); }
void PQfinish(PGconn* conn) { FEROQ_LIBPQ(PQfinish)(conn); }
int PQflush(PGconn* conn) { return FEROQ_LIBPQ(PQflush)(conn); }
void PQfreemem(void* ptr) { FEROQ_LIBPQ(PQfreemem)(ptr); }
PGresult* PQgetResult(PGconn* conn) { return FEROQ_LIBPQ(PQgetResult)(conn); }
int PQgetisnull(const PGresult* res, int tup_num, int field_num) {
  return FEROQ_LIBPQ(PQgetisnull)(res, tup_num, field_num);
}
int PQgetlength(const PGresult* res, int tup_num, int field_num) {
  return FEROQ_LIBPQ(PQgetlength)(res, tup_num, field_num);
}
char* PQgetvalue(const PGresult* res, int tup_num, int field_num) {
  return FEROQ_LIBPQ(PQgetvalue)(res, tup_num, field_num);
}
int PQisBusy(PGconn* conn) { return FEROQ_LIBPQ(PQisBusy)(conn); }
int PQnfields(const PGresult* res) { return FEROQ_LIBPQ(PQnfields)(res); }
PGnotify* PQnotifies(PGconn* conn) { return FEROQ_LIBPQ(PQnotifies)(conn); }
int PQntuples(const PGresult* res) { return FEROQ_LIBPQ(PQntuples)(res); }
const char* PQparameterStatus(const PGconn* conn, const char* paramName) {
  return FEROQ_LIBPQ(PQparameterStatus)(conn, paramName);
}
PGpipelineStatus PQpipelineStatus(const PGconn* conn) { return FEROQ_LIBPQ(PQpipelineStatus)(conn); }
int PQpipelineSync(PGconn* conn) { return FEROQ_LIBPQ(PQpipelineSync)(conn); }
PGresult* PQprepare(PGconn* conn, const char* stmtName, const char* query, int nParams, const Oid* paramTypes) {
  return FEROQ_LIBPQ(PQprepare)(conn, stmtName, query, nParams, paramTypes);
}
char* PQresultErrorField(const PGresult* res, int fieldcode) { return FEROQ_LIBPQ(PQresultErrorField)(res, fieldcode); }
char* PQresultErrorMessage(const PGresult* res) { return FEROQ_LIBPQ(PQresultErrorMessage)(res); }
ExecStatusType PQresultStatus(const PGresult* res) { return FEROQ_LIBPQ(PQresultStatus)(res); }
int PQsendFlushRequest(PGconn* conn) { return FEROQ_LIBPQ(PQsendFlushRequest)(conn); }
int PQsendPrepare(PGconn* conn, const char* stmtName, const char* query, int nParams, const Oid* paramTypes) {
  return FEROQ_LIBPQ(PQsendPrepare)(conn, stmtName, query, nParams, paramTypes);
}
int PQsendQuery(PGconn* conn, const char* query) { return FEROQ_LIBPQ(PQsendQuery)(conn, query); }
int PQsendQueryParams(PGconn* conn, const char* command, int nParams, const Oid* paramTypes,
                      const char* const* paramValues, const int* paramLengths, const int* paramFormats,
                      int resultFormat) {
  return FEROQ_LIBPQ(PQsendQueryParams)(conn, command, nParams, paramTypes, paramValues, paramLengths, paramFormats,
                                        resultFormat);
}
int PQsendQueryPrepared(PGconn* conn, const char* stmtName, int nParams, const char* const* paramValues,
                        const int* paramLengths, const int* paramFormats, int resultFormat) {
  return FEROQ_LIBPQ(PQsendQueryPrepared)(conn, stmtName, nParams, paramValues, paramLengths, paramFormats,
                                          resultFormat);
}
int PQserverVersion(const PGconn* conn) { return FEROQ_LIBPQ(PQserverVersion)(conn); }
int PQsetnonblocking(PGconn* conn, int arg) { return FEROQ_LIBPQ(PQsetnonblocking)(conn, arg); }
int PQsocket(const PGconn* conn) { return FEROQ_LIBPQ(PQsocket)(conn); }
int PQsslInUse(PGconn* conn) { return FEROQ_LIBPQ(PQsslInUse)(conn); }
ConnStatusType PQstatus(const PGconn* conn) { return FEROQ_LIBPQ(PQstatus)(conn); }
PGTransactionStatusType PQtransactionStatus(const PGconn* conn) { return FEROQ_LIBPQ(PQtransactionStatus)(conn); }

}  // extern "C"

#pragma GCC visibility pop
