// The throwaway PostgreSQL cluster: initdb and pg_ctl from the installed server, as an ordinary
// user when the tests run as root (PostgreSQL refuses to run as root).
#include "tests/pg_cluster.h"

#include <glob.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace {

std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// The newest installed server's programs folder, or empty.
std::string ServerPrograms() {
  glob_t found{};
  std::string folder;
  if (glob("/usr/lib/postgresql/*/bin/initdb", 0, nullptr, &found) == 0 && found.gl_pathc > 0) {
    folder = found.gl_pathv[found.gl_pathc - 1];
    folder.resize(folder.size() - std::string("/initdb").size());
  }
  globfree(&found);
  return folder;
}

}  // namespace

PgCluster::PgCluster() {
  bin_ = ServerPrograms();
  if (bin_.empty()) {
    why_ = "PostgreSQL isn't installed (no /usr/lib/postgresql/*/bin/initdb)";
    return;
  }
  // A short path: the socket's name must fit in 107 bytes.
  char pattern[] = "/tmp/apexgrid-pg-XXXXXX";
  if (mkdtemp(pattern) == nullptr) {
    why_ = "no scratch folder";
    return;
  }
  folder_ = pattern;
  if (geteuid() == 0) {
    // Debian's package makes the postgres user; nobody serves where it doesn't.
    const passwd* user = getpwnam("postgres");
    if (user == nullptr) user = getpwnam("nobody");
    if (user == nullptr || chown(folder_.c_str(), user->pw_uid, user->pw_gid) != 0) {
      why_ = "no user to run PostgreSQL as";
      return;
    }
    owner_ = user->pw_name;
  }
  chmod(folder_.c_str(), 0755);
  const std::string data = folder_ + "/data";
  if (AsOwner(Quoted(bin_ + "/initdb") + " -D " + Quoted(data) + " -A trust -U apexgrid -E UTF8 --no-sync >" +
              Quoted(folder_ + "/initdb.log") + " 2>&1") != 0) {
    why_ = "initdb failed; see " + folder_ + "/initdb.log";
    return;
  }
  const std::string options = "-k " + folder_ + " -c listen_addresses=";
  if (AsOwner(Quoted(bin_ + "/pg_ctl") + " -D " + Quoted(data) + " -l " + Quoted(folder_ + "/server.log") + " -w -o " +
              Quoted(options) + " start >/dev/null 2>&1") != 0) {
    why_ = "the cluster didn't start; see " + folder_ + "/server.log";
    return;
  }
  started_ = true;
  url_ = "postgresql://apexgrid@/postgres?host=" + folder_;
}

PgCluster::~PgCluster() {
  if (started_) {
    AsOwner(Quoted(bin_ + "/pg_ctl") + " -D " + Quoted(folder_ + "/data") + " -m immediate -w stop >/dev/null 2>&1");
  }
  // A cluster that failed is kept for its logs.
  if (!folder_.empty() && why_.empty()) std::system(("rm -rf " + Quoted(folder_)).c_str());
}

int PgCluster::AsOwner(const std::string& command) const {
  const std::string line = owner_.empty() ? command : "runuser -u " + owner_ + " -- sh -c " + Quoted(command);
  const int status = std::system(line.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
