// The test suite's PostgreSQL cluster (scripts/pg-test-cluster.sh, started
// by CTest before the tests that need it): a scratch database per test, and
// stopping or restarting the server under a running test.
#ifndef FEROQ_TESTS_SUPPORT_POSTGRES_CLUSTER_H_
#define FEROQ_TESTS_SUPPORT_POSTGRES_CLUSTER_H_

#include <string>

namespace feroq::testing {

// Whether the cluster is up (CTest started it). The first call also points
// libpq at the cluster's password file (PGPASSFILE).
bool PostgresClusterAvailable();

// A new, empty database on the cluster, dropped (its connections ended)
// when the object goes. Connection URIs carry no password: libpq takes it
// from the password file.
class ScratchDatabase {
 public:
  ScratchDatabase();
  ~ScratchDatabase();
  ScratchDatabase(const ScratchDatabase&) = delete;
  ScratchDatabase& operator=(const ScratchDatabase&) = delete;

  const std::string& name() const { return name_; }
  // Over the Unix socket, as the cluster's superuser.
  std::string url() const;
  // Over TCP to `host` (127.0.0.1 when empty), as `user` (the superuser
  // when empty), with `password` written into the URI when it is not empty.
  std::string tcp_url(const std::string& user = "", const std::string& password = "",
                      const std::string& host = "") const;
  // Runs SQL on the database as the superuser; false (and a test failure
  // message) when it fails.
  bool Exec(const std::string& sql) const;

 private:
  std::string name_;
};

// The CA file that signed the server's certificate (`signer`), or one that
// signed nothing; empty when the cluster takes no TLS.
std::string PostgresClusterCa(bool signer);

// Stops, starts or restarts the cluster's server ("stop-server",
// "start-server", "restart-server"); false when the script failed.
bool ControlPostgresServer(const std::string& action);

// Restarts the server listening also on `address` and taking SCRAM logins
// from `subnet` (CIDR); an empty `address` restarts it on 127.0.0.1 alone.
// False when a step failed.
bool ListenPostgresAlsoOn(const std::string& address, const std::string& subnet = "");

}  // namespace feroq::testing

#endif  // FEROQ_TESTS_SUPPORT_POSTGRES_CLUSTER_H_
