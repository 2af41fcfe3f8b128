// A throwaway PostgreSQL cluster for the server's tests and benchmark: made in a scratch folder,
// listening on a Unix socket there only, and stopped and removed when the object goes.
#pragma once

#include <string>

class PgCluster {
 public:
  // Makes and starts the cluster; url() is empty, and why() says why, when PostgreSQL isn't
  // installed or the cluster can't start.
  PgCluster();
  ~PgCluster();
  PgCluster(const PgCluster&) = delete;
  PgCluster& operator=(const PgCluster&) = delete;

  // Whether PostgreSQL's server programs are there at all.
  bool installed() const { return !bin_.empty(); }
  // The server's --database: postgresql://apexgrid@/postgres?host=FOLDER
  const std::string& url() const { return url_; }
  const std::string& why() const { return why_; }

 private:
  // Runs the shell command as the cluster's owner; its exit status.
  int AsOwner(const std::string& command) const;

  std::string folder_;
  std::string bin_;
  std::string owner_;  // the user the cluster runs as when this process is root, else empty
  std::string url_;
  std::string why_;
  bool started_ = false;
};
