// apexgrid-server: holds online races on a database in a data folder and serves the race API.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <mutex>
#include <string>

#include "server/http_server.h"
#include "server/service.h"

namespace {

const char kUsage[] =
    "usage: apexgrid-server [--listen ADDRESS:PORT] --data FOLDER [--database URL] [--tls-cert FILE --tls-key FILE]\n"
    "                       [--url URL]\n"
    "  --listen ADDRESS:PORT  where to serve (default 127.0.0.1:8470; port 0 picks one)\n"
    "  --tls-cert FILE --tls-key FILE  serve HTTPS and secure WebSockets with the PEM chain and key\n"
    "  --data FOLDER          the folder of the database and the circuits (made when missing)\n"
    "  --database URL         postgresql://... : the races on PostgreSQL, which several servers may\n"
    "                         share (the default: SQLite in the data folder)\n"
    "  --url URL              how race files name this server (default http://ADDRESS:PORT)\n"
    "  --computer-pause MS    the pause before a computer's move (default 800, as in the game)\n"
    "  --request-seconds S    the time a client has to send a request's header (default 10)\n"
    "  --requests-per-minute N  the requests one address may make in a minute, at once or spread;\n"
    "                         more are answered 429 (default 60000; 0: no limit)\n"
    "  --sync full|normal     full (the default): a move is answered once it is on the disk;\n"
    "                         normal: once it is in the database's log, which a killed server\n"
    "                         keeps but a power cut may not, at a fraction of the latency\n";

std::mutex logMutex;

// One line on standard error, stamped with the time in UTC to the millisecond.
void Log(const std::string& line) {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const int ms =
      static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char stamp[40];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &utc);
  std::lock_guard<std::mutex> lock(logMutex);
  std::fprintf(stderr, "%s.%03dZ %s\n", stamp, ms, line.c_str());
  std::fflush(stderr);
}

int Usage(const std::string& reason) {
  std::fprintf(stderr, "apexgrid-server: %s\n%s", reason.c_str(), kUsage);
  return 2;
}

bool WholeNumber(const char* text, long low, long high, long* out) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < low || value > high) return false;
  *out = value;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  HttpOptions http;
  ServiceOptions service;
  for (int i = 1; i < argc; ++i) {
    const std::string flag = argv[i];
    if (flag == "--help" || flag == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (i + 1 >= argc) return Usage(flag + " needs a value");
    const char* value = argv[++i];
    if (flag == "--listen") {
      const std::string text = value;
      const size_t colon = text.rfind(':');
      long port = 0;
      if (colon == std::string::npos || !WholeNumber(text.c_str() + colon + 1, 0, 65535, &port)) {
        return Usage("--listen takes ADDRESS:PORT");
      }
      http.address = text.substr(0, colon);
      http.port = static_cast<unsigned short>(port);
    } else if (flag == "--data") {
      service.dataFolder = value;
    } else if (flag == "--url") {
      service.serverUrl = value;
    } else if (flag == "--computer-pause") {
      long ms = 0;
      if (!WholeNumber(value, 0, 60000, &ms)) return Usage("--computer-pause takes 0 to 60000 milliseconds");
      service.computerPauseMs = static_cast<int>(ms);
    } else if (flag == "--request-seconds") {
      long seconds = 0;
      if (!WholeNumber(value, 1, 3600, &seconds)) return Usage("--request-seconds takes 1 to 3600 seconds");
      http.headerSeconds = static_cast<int>(seconds);
    } else if (flag == "--requests-per-minute") {
      long requests = 0;
      if (!WholeNumber(value, 0, 100000000, &requests)) return Usage("--requests-per-minute takes 0 to 100000000");
      http.requestsPerMinute = static_cast<int>(requests);
    } else if (flag == "--sync") {
      if (std::strcmp(value, "full") != 0 && std::strcmp(value, "normal") != 0)
        return Usage("--sync is full or normal");
      service.syncEveryCommit = std::strcmp(value, "full") == 0;
    } else if (flag == "--tls-cert") {
      http.tlsCertificate = value;
    } else if (flag == "--tls-key") {
      http.tlsKey = value;
    } else if (flag == "--database") {
      service.database = value;
    } else {
      return Usage("unknown option " + flag);
    }
  }
  if (service.dataFolder.empty()) return Usage("--data FOLDER is needed");
  if (http.tlsCertificate.empty() != http.tlsKey.empty()) return Usage("--tls-cert and --tls-key go together");
  Service races(service, Log);
  std::string error;
  if (!races.Open(&error)) {
    Log(error);
    return 1;
  }
  races.StartClock();
  const int status = ServeHttp(races, http, Log, [&service, &races, &http](const std::string& address) {
    races.SetServerUrl((http.tlsCertificate.empty() ? "http://" : "https://") + address);
    Log("listening on " + address + ", data in " + service.dataFolder +
        (service.database.empty() ? "" : ", races on PostgreSQL"));
  });
  races.StopClock();
  if (status == 0) Log("stopped");
  return status;
}
