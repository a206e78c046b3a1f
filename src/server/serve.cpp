#include "server/serve.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <exception>
#include <string>
#include <thread>

#include <httplib.h>

#include "dehazefile/forwarded_signals.h"
#include "dehazefile/memory_budget.h"
#include "dehazefile/picture_parts.h"
#include "server/api_routes.h"
#include "server/guarded_server.h"
#include "server/http_replies.h"
#include "server/request_guard.h"
#include "server/request_screen.h"
#include "server/router.h"
#include "server/serve_options.h"

namespace vantorel {
namespace {

// Connections served at once, each on its own thread (a browser keeps up to six open to
// one server); slow clients are cut off by the deadlines of ConnectionRules, so that a
// crowd of them cannot take every thread for long.
constexpr std::size_t kConnectionThreads = 512;
constexpr time_t kKeepAliveSeconds = 2;
constexpr uint64_t kMiB = uint64_t{1} << 20;

std::string UrlHost(const std::string& host) {
  return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

ApiLimits Limits(const ServeOptions& options) {
  ApiLimits limits;
  limits.max_pictures = static_cast<std::size_t>(options.max_pictures);
  limits.picture_bytes = static_cast<uint64_t>(options.picture_memory_mb) * kMiB;
  const unsigned cores = std::thread::hardware_concurrency();
  limits.jobs = options.jobs > 0 ? options.jobs : static_cast<int>(cores > 0 ? cores : 1);
  // The dehazes share what the process may use beyond the kept pictures (at least half).
  const uint64_t usable = ReadMemoryLimits().Smallest();
  limits.work_bytes = usable > 2 * limits.picture_bytes ? usable - limits.picture_bytes : usable / 2;
  return limits;
}

std::string UploadLimitText(const ServeOptions& options) {
  return std::to_string(options.max_upload_mb) + " MiB (--max-upload-mb)";
}

void Configure(httplib::Server& server, const RequestGuard& guard, const Router& router, const ServeOptions& options) {
  server.set_keep_alive_timeout(kKeepAliveSeconds);
  const RequestScreen screen(guard, router, static_cast<uint64_t>(options.max_upload_mb) * kMiB,
                             UploadLimitText(options));
  server.set_pre_routing_handler([screen](const httplib::Request& request, httplib::Response& response) {
    return screen.Screen(request, response);
  });
  // A client that asks before sending its body (curl does for large ones) hears the
  // refusal instead of "100 Continue".
  server.set_expect_100_continue_handler([screen](const httplib::Request& request, httplib::Response& response) {
    return screen.Screen(request, response) == httplib::Server::HandlerResponse::Handled ? response.status : 100;
  });
  // Statuses httplib sets itself (400 for a malformed request, 413 and 400 for a body cut
  // off) get the same JSON body as the others, and close the connection: what follows a
  // malformed request cannot be trusted to start the next one. httplib refuses a method it
  // does not know (BREW, ...) as a malformed request line, before the path is read; that
  // is a 405 like TRACE's, with every method the server takes.
  server.set_error_handler(httplib::Server::HandlerWithResponse([&](const httplib::Request& request,
                                                                     httplib::Response& response) {
    if (!response.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
    CloseAfterAnswer(request, response);
    if (response.status == 400 && !request.method.empty() && !IsKnownToHttplib(request.method)) {
      const std::string allowed = router.MethodsTaken();
      response.set_header("Allow", allowed);
      ReplyError(response, 405, request.method + " is not a method this server takes: " + allowed);
      return httplib::Server::HandlerResponse::Handled;
    }
    ReplyError(response, response.status,
               response.status == 413 ? "the request body is over the upload limit of " + UploadLimitText(options)
                                      : "the request could not be served (" + std::to_string(response.status) + ")");
    return httplib::Server::HandlerResponse::Handled;
  }));
  server.set_exception_handler([](const httplib::Request&, httplib::Response& response, std::exception_ptr error) {
    std::string what = "unexpected error";
    try {
      std::rethrow_exception(error);
    } catch (const std::bad_alloc&) {
      what = "out of memory";
    } catch (const std::exception& e) {
      what = e.what();
    } catch (...) {
    }
    ReplyError(response, 500, what);
  });
  router.InstallOn(server);
}

}  // namespace

int RunServe(int argc, char** argv) {
  ServeOptions options;
  if (const int status = ParseServeOptions(argc, argv, options); status >= 0) return status;

  // SIGINT and SIGTERM are taken by one thread that stops the server: blocked here, before
  // any thread starts, so that every thread inherits the mask.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  KeepWorkingMemoryForMorePictures();
  Api api(Limits(options));
  Router router;
  api.AddRoutes(router);
  ConnectionRules rules;
  rules.max_body_bytes = static_cast<uint64_t>(options.max_upload_mb) * kMiB;
  GuardedServer server(rules, kConnectionThreads);
  const int port = options.port == 0 ? server.bind_to_any_port(options.host)
                                     : (server.bind_to_port(options.host, options.port) ? options.port : -1);
  if (port <= 0 || !server.LengthenListenQueue()) {
    std::fprintf(stderr, "vantorel: cannot listen on %s port %d (in use or not an address of this machine; "
                         "--port 0 picks a free port)\n", options.host.c_str(), options.port);
    return 1;
  }
  const RequestGuard guard(options.host, port);
  Configure(server, guard, router, options);

  std::atomic<bool> signalled{false};
  std::thread stopper([&server, &stop_signals, &signalled] {
    int signal_number = 0;
    sigwait(&stop_signals, &signal_number);
    signalled = true;
    server.stop();
  });
  ForwardSignalsTo(stopper.native_handle(), stop_signals);
  std::printf("Serving on http://%s:%d/\n", UrlHost(options.host).c_str(), port);
  std::fflush(stdout);
  const bool stopped_cleanly = server.listen_after_bind();
  if (!stopped_cleanly) std::fprintf(stderr, "vantorel: the server stopped on an error\n");
  // The loop ended on an error: the stopper still waits for a signal.
  if (!signalled) kill(getpid(), SIGTERM);
  stopper.join();
  return stopped_cleanly ? 0 : 1;
}

}  // namespace vantorel
