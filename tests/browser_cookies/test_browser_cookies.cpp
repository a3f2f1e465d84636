// Chromium, Firefox, GNOME Web, Falkon and qutebrowser visit three sites on loopback that
// set persistent cookies; the cookie folder lists the three; with the browsers closed two
// are deleted, and on the next visit the browsers send cookies to the third site only. The
// whole run is inside a network namespace with nothing but loopback, so no browser reaches
// the outside, and a mount namespace whose /etc/hosts names the three sites. The browsers
// that need a display get an Xvfb of their own, GNOME Web a session bus of its own.
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "platform/browser_profiles.h"
#include "platform/cookie_folder.h"
#include "platform/cookie_store.h"
#include "platform/files.h"
#include "platform/locations.h"
#include "tests/support/sandbox.h"

namespace tidrex {
namespace {

using namespace std::chrono_literals;
using platform::BrowserFamily;
using testing::Sandbox;

const char* const kHosts[3] = {"site-a.test", "www.site-b.test", "site-c.test"};
const char* const kLabels[3] = {"a", "b", "c"};
bool g_hosts_mapped = false;  // /etc/hosts names the three sites (see MapTheSitesInEtcHosts)

std::string Installed(const char* path) { return ::access(path, X_OK) == 0 ? path : ""; }
std::string ChromiumBinary() { return Installed("/usr/bin/chromium"); }
std::string FirefoxBinary() {
  for (const char* p : {"/usr/bin/firefox-esr", "/usr/bin/firefox"})
    if (::access(p, X_OK) == 0) return p;
  return {};
}

// ---- A small HTTP server: each site sets one cookie and sends the browser on. ----

struct Hit {
  std::string host;  // without the port
  std::string path;
  std::string cookie;
  std::string agent;
};

class Server {
 public:
  Server() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int one = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(fd_, 64) != 0) {
      throw std::runtime_error("cannot listen on loopback");
    }
    socklen_t len = sizeof addr;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    acceptor_ = std::thread([this] { AcceptLoop(); });
  }
  ~Server() {
    stop_ = true;
    acceptor_.join();
    for (std::thread& t : handlers_) t.join();
    ::close(fd_);
  }
  int port() const { return port_; }
  std::string Url(int site, const std::string& what) const {
    return "http://" + std::string(kHosts[site]) + ":" + std::to_string(port_) + "/" + what +
           "/" + std::to_string(site + 1);
  }

  // The requests by a user agent containing `agent`.
  std::vector<Hit> HitsOf(const std::string& agent) {
    std::lock_guard lock(mutex_);
    return Of(agent);
  }
  // Waits for a request of `path` on `host` by that agent.
  bool WaitFor(const std::string& host, const std::string& path, const std::string& agent,
               std::chrono::seconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] {
      for (const Hit& h : Of(agent))
        if (h.host == host && h.path == path) return true;
      return false;
    });
  }
  void Forget() {
    std::lock_guard lock(mutex_);
    hits_.clear();
  }

 private:
  std::vector<Hit> Of(const std::string& agent) const {
    std::vector<Hit> out;
    for (const Hit& h : hits_)
      if (h.agent.find(agent) != std::string::npos) out.push_back(h);
    return out;
  }

  void AcceptLoop() {
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 200) <= 0) continue;
      int client = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      handlers_.emplace_back([this, client] { Handle(client); });
    }
  }

  static std::string Header(const std::string& request, const std::string& name) {
    std::size_t pos = 0;
    while ((pos = request.find("\r\n", pos)) != std::string::npos) {
      pos += 2;
      if (strncasecmp(request.c_str() + pos, (name + ":").c_str(), name.size() + 1) == 0) {
        std::size_t start = pos + name.size() + 1;
        while (start < request.size() && request[start] == ' ') ++start;
        return request.substr(start, request.find("\r\n", start) - start);
      }
    }
    return {};
  }

  void Handle(int client) {
    timeval tv{5, 0};
    ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    std::string request;
    char buf[4096];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536 && !stop_) {
      ssize_t n = ::recv(client, buf, sizeof buf, 0);
      if (n <= 0) break;
      request.append(buf, static_cast<std::size_t>(n));
    }
    Hit hit;
    const std::size_t sp1 = request.find(' ');
    if (request.find("\r\n\r\n") == std::string::npos || sp1 == std::string::npos) {
      ::close(client);
      return;
    }
    hit.path = request.substr(sp1 + 1, request.find(' ', sp1 + 1) - sp1 - 1);
    hit.host = Header(request, "Host");
    hit.host = hit.host.substr(0, hit.host.find(':'));
    hit.cookie = Header(request, "Cookie");
    hit.agent = Header(request, "User-Agent");
    std::string response = Respond(hit);
    ::send(client, response.data(), response.size(), MSG_NOSIGNAL);
    ::close(client);
    {
      std::lock_guard lock(mutex_);
      hits_.push_back(std::move(hit));
    }
    changed_.notify_all();
  }

  std::string Respond(const Hit& hit) {
    for (int site = 0; site < 3; ++site) {
      if (hit.host != kHosts[site]) continue;
      for (const char* what : {"set", "check"}) {
        if (hit.path != "/" + std::string(what) + "/" + std::to_string(site + 1)) continue;
        std::string head = site < 2 ? "HTTP/1.1 302 Found\r\nLocation: " + Url(site + 1, what) + "\r\n"
                                    : "HTTP/1.1 200 OK\r\n";
        if (std::string(what) == "set") {
          head += "Set-Cookie: tidrex_" + std::string(kLabels[site]) +
                  "=1; Max-Age=2592000; Path=/";
          // One site sets a domain cookie from its subdomain, as most sites do.
          if (site == 1) head += "; Domain=site-b.test";
          head += "\r\n";
        }
        const std::string body = "<!doctype html><title>ok</title>done";
        return head + "Content-Type: text/html\r\nCache-Control: no-store\r\nContent-Length: " +
               std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
      }
    }
    return "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
  }

  int fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread acceptor_;
  std::vector<std::thread> handlers_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Hit> hits_;
};

// ---- The browsers. ----

// How a browser is asked to quit so that it writes its cookie store first.
enum class QuitBy {
  DevTools,  // Browser.close over the remote-debugging pipe (headless Chromium)
  Term,      // SIGTERM (Firefox, qutebrowser; GNOME Web writes each cookie at once anyway)
  Keys,      // Ctrl+Q to its window (Falkon dies on SIGTERM without writing its store)
};

struct Browser {
  std::string name;    // for messages
  std::string agent;   // a part of its User-Agent
  std::string binary;
  std::function<std::vector<std::string>(const std::string& url)> args;
  QuitBy quit = QuitBy::Term;
  std::string store_dir = {};       // a part of its cookie store's path
  bool writes_store_at_once = true;  // false: Chromium's store, written every 30 s
  std::vector<std::string> env = {};  // NAME=value for it alone
  std::string window_class = {};      // QuitBy::Keys
};

class Process {
 public:
  // With `devtools_pipe` the browser gets the remote-debugging pipe on fds 3 and 4, the
  // one way to close headless Chromium so that it writes its cookie store first.
  Process(const std::vector<std::string>& argv, const std::string& log, bool devtools_pipe,
          const std::vector<std::string>& env = {}) {
    // Everything the child needs is made before fork: the server threads may hold locks.
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<char*> envp;  // `env` replaces variables of the same name
    for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    for (char** e = environ; *e; ++e) {
      const std::string_view name(*e, std::strcspn(*e, "="));
      const bool replaced = std::any_of(env.begin(), env.end(), [&](const std::string& v) {
        return v.size() > name.size() && v.compare(0, name.size(), name) == 0 && v[name.size()] == '=';
      });
      if (!replaced) envp.push_back(*e);
    }
    envp.push_back(nullptr);
    int to_child[2] = {-1, -1};
    int from_child[2] = {-1, -1};
    if (devtools_pipe && (::pipe2(to_child, O_CLOEXEC) != 0 || ::pipe2(from_child, O_CLOEXEC) != 0)) {
      throw std::runtime_error("pipe");
    }
    int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::setpgid(0, 0);
      if (devtools_pipe) {
        // Out of the way of 3 and 4 first; dup2 then clears close-on-exec on the targets.
        int in = ::fcntl(to_child[0], F_DUPFD_CLOEXEC, 10);
        int back = ::fcntl(from_child[1], F_DUPFD_CLOEXEC, 10);
        ::dup2(in, 3);
        ::dup2(back, 4);
      }
      ::dup2(out, 1);
      ::dup2(out, 2);
      ::dup2(null, 0);
      ::execve(args[0], args.data(), envp.data());
      ::_exit(127);
    }
    ::setpgid(pid_, pid_);
    ::close(out);
    ::close(null);
    if (devtools_pipe) {
      ::close(to_child[0]);
      ::close(from_child[1]);
      devtools_in_ = to_child[1];
      devtools_out_ = from_child[0];
    }
  }
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // Asks the browser to quit as a user would, so that it writes its stores on the way out
  // (Chromium through the pipe, Firefox on SIGTERM), then clears away whatever of its
  // process group is left. False when it had to be killed.
  bool Quit(const std::function<void()>& ask = nullptr) {
    if (devtools_in_ >= 0) {
      static const char close_message[] = "{\"id\":1,\"method\":\"Browser.close\"}";
      (void)!::write(devtools_in_, close_message, sizeof close_message);  // with its NUL
    } else if (ask) {
      ask();
    } else {
      ::kill(pid_, SIGTERM);
    }
    bool clean = false;
    for (auto end = std::chrono::steady_clock::now() + 45s; std::chrono::steady_clock::now() < end;) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        clean = WIFEXITED(status) || WTERMSIG(status) == SIGTERM;
        break;
      }
      std::this_thread::sleep_for(100ms);
    }
    if (!clean) {
      ::kill(-pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    ::kill(-pid_, SIGKILL);  // helpers that outlived the browser
    pid_ = -1;
    return clean;
  }
  ~Process() {
    if (pid_ > 0) {
      ::kill(-pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (devtools_in_ >= 0) ::close(devtools_in_);
    if (devtools_out_ >= 0) ::close(devtools_out_);
  }

 private:
  pid_t pid_ = -1;
  int devtools_in_ = -1;
  int devtools_out_ = -1;
};

class BrowserCookiesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string chromium_dir = platform::XdgConfigHome() + "/chromium";
    const std::string firefox_root = sandbox_.Home() + "/.mozilla/firefox";
    const std::string firefox_dir = firefox_root + "/tidrex.default-esr";
    Sandbox::MakeDirs(chromium_dir);
    Sandbox::WriteFile(firefox_root + "/profiles.ini",
                       "[Profile0]\nName=default-esr\nIsRelative=1\nPath=tidrex.default-esr\n"
                       "Default=1\n\n[General]\nStartWithLastProfile=1\nVersion=2\n");
    std::string domains;
    for (const char* h : kHosts) domains += std::string(domains.empty() ? "" : ",") + h;
    Sandbox::WriteFile(firefox_dir + "/user.js",
                       "user_pref(\"network.dns.localDomains\", \"" + domains + "\");\n"
                       "user_pref(\"network.proxy.type\", 0);\n"
                       "user_pref(\"dom.security.https_first\", false);\n"
                       "user_pref(\"dom.security.https_only_mode\", false);\n"
                       "user_pref(\"browser.shell.checkDefaultBrowser\", false);\n"
                       "user_pref(\"browser.startup.homepage_override.mstone\", \"ignore\");\n"
                       "user_pref(\"browser.aboutwelcome.enabled\", false);\n"
                       "user_pref(\"datareporting.policy.dataSubmissionEnabled\", false);\n"
                       "user_pref(\"toolkit.telemetry.reportingpolicy.firstRun\", false);\n"
                       "user_pref(\"app.update.auto\", false);\n"
                       "user_pref(\"network.captive-portal-service.enabled\", false);\n"
                       "user_pref(\"network.connectivity-service.enabled\", false);\n"
                       "user_pref(\"browser.sessionstore.resume_from_crash\", false);\n");

    if (!ChromiumBinary().empty()) {
      Browser b{.name = "Chromium", .agent = "Chrome/", .binary = ChromiumBinary(), .args = [=](const std::string& url) {
                  return std::vector<std::string>{
                      ChromiumBinary(), "--headless", "--no-sandbox", "--disable-gpu",
                      "--disable-quic", "--no-first-run",
                      "--disable-background-networking", "--disable-component-update",
                      "--disable-sync", "--password-store=basic",
                      "--host-resolver-rules=MAP * 127.0.0.1",
                      "--remote-debugging-pipe", "--user-data-dir=" + chromium_dir, url};
                }};
      b.quit = QuitBy::DevTools;
      b.store_dir = "/.config/chromium/";
      b.writes_store_at_once = false;
      browsers_.push_back(std::move(b));
    }
    if (!FirefoxBinary().empty()) {
      Browser b{.name = "Firefox", .agent = "Firefox/", .binary = FirefoxBinary(), .args = [=](const std::string& url) {
                  return std::vector<std::string>{FirefoxBinary(), "--headless", "--no-remote", "--profile",
                                                  firefox_dir, url};
                }};
      b.store_dir = "/.mozilla/firefox/";
      browsers_.push_back(std::move(b));
    }
    // The others have no headless mode: they share one Xvfb. QtWebEngine's renderer
    // sandbox cannot start as root, and these runs are root.
    const std::string epiphany = Installed("/usr/bin/epiphany-browser");
    const std::string falkon = Installed("/usr/bin/falkon");
    const std::string qutebrowser = Installed("/usr/bin/qutebrowser");
    const bool need_display = !epiphany.empty() || !falkon.empty() || !qutebrowser.empty();
    if (need_display && StartDisplay()) {
      const std::string display = "DISPLAY=" + display_;
      if (!epiphany.empty() && !g_hosts_mapped) std::puts("note: /etc/hosts could not be mapped; GNOME Web is not tested");
      if (!epiphany.empty() && g_hosts_mapped && StartSessionBus()) {
        Browser b{.name = "GNOME Web", .agent = "Version/", .binary = epiphany, .args = [=](const std::string& url) {
                    return std::vector<std::string>{epiphany, url};
                  }};
        b.store_dir = "/.local/share/epiphany/";
        b.env = {display, "DBUS_SESSION_BUS_ADDRESS=" + bus_address_, "GSETTINGS_BACKEND=memory",
                 "WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS=1", "WEBKIT_DISABLE_COMPOSITING_MODE=1"};
        browsers_.push_back(std::move(b));
      }
      if (!falkon.empty()) {
        Browser b{.name = "Falkon", .agent = "QtWebEngine/", .binary = falkon, .args = [=](const std::string& url) {
                    return std::vector<std::string>{falkon, "--no-remote", "--no-extensions", url};
                  }};
        b.quit = QuitBy::Keys;
        b.window_class = "falkon";
        b.store_dir = "/.config/falkon/profiles/";
        b.writes_store_at_once = false;
        b.env = {display, "QTWEBENGINE_DISABLE_SANDBOX=1"};
        browsers_.push_back(std::move(b));
      }
      if (!qutebrowser.empty()) {
        Browser b{.name = "qutebrowser", .agent = "QtWebEngine/", .binary = qutebrowser, .args = [=](const std::string& url) {
                    return std::vector<std::string>{qutebrowser, url};
                  }};
        b.store_dir = "/.local/share/qutebrowser/";
        b.writes_store_at_once = false;
        b.env = {display, "QTWEBENGINE_DISABLE_SANDBOX=1"};
        browsers_.push_back(std::move(b));
      }
    }
    sandbox_.SetEnv("MOZ_CRASHREPORTER_DISABLE", "1");
    sandbox_.SetEnv("DISPLAY", std::nullopt);
    sandbox_.SetEnv("WAYLAND_DISPLAY", std::nullopt);
    sandbox_.SetEnv("DBUS_SESSION_BUS_ADDRESS", "disabled:");
  }

  // An Xvfb on the first free display number; false (and a note) when it does not come up.
  bool StartDisplay() {
    const std::string xvfb = Installed("/usr/bin/Xvfb");
    if (xvfb.empty() || Installed("/usr/bin/xdotool").empty()) {
      std::puts("note: no Xvfb or xdotool; GNOME Web, Falkon and qutebrowser are not tested");
      return false;
    }
    for (int n = 140; n < 200; ++n) {
      if (::access(("/tmp/.X" + std::to_string(n) + "-lock").c_str(), F_OK) == 0) continue;
      display_ = ":" + std::to_string(n);
      xvfb_ = std::make_unique<Process>(
          std::vector<std::string>{xvfb, display_, "-screen", "0", "1280x800x24", "-nolisten", "tcp"},
          sandbox_.Path("xvfb.log"), false);
      for (int i = 0; i < 100; ++i) {
        if (::access(("/tmp/.X11-unix/X" + std::to_string(n)).c_str(), F_OK) == 0) return true;
        std::this_thread::sleep_for(50ms);
      }
      xvfb_.reset();
    }
    std::puts("note: Xvfb did not start; GNOME Web, Falkon and qutebrowser are not tested");
    return false;
  }

  // GNOME Web does not run without a session bus: one of its own, in the sandbox.
  bool StartSessionBus() {
    const std::string daemon = Installed("/usr/bin/dbus-daemon");
    if (daemon.empty()) {
      std::puts("note: no dbus-daemon; GNOME Web is not tested");
      return false;
    }
    const std::string socket = sandbox_.Path("bus");
    bus_address_ = "unix:path=" + socket;
    bus_ = std::make_unique<Process>(
        std::vector<std::string>{daemon, "--session", "--nofork", "--nopidfile", "--address=" + bus_address_},
        sandbox_.Path("dbus.log"), false);
    for (int i = 0; i < 100; ++i) {
      if (::access(socket.c_str(), F_OK) == 0) return true;
      std::this_thread::sleep_for(50ms);
    }
    std::puts("note: dbus-daemon did not start; GNOME Web is not tested");
    bus_.reset();
    return false;
  }

  // Ctrl+Q to the browser's window, as a user quits it.
  std::function<void()> QuitAsker(const Browser& b) const {
    if (b.quit != QuitBy::Keys) return nullptr;
    return [this, cls = b.window_class] {
      const std::string command = "DISPLAY=" + display_ + " xdotool search --onlyvisible --class " + cls +
                                  " windowfocus key --clearmodifiers ctrl+q >/dev/null 2>&1";
      (void)!std::system(command.c_str());
    };
  }

  // Each browser in turn, alone, follows the chain of the three sites and quits; returns
  // the requests each of them made.
  std::map<std::string, std::vector<Hit>> VisitAll(
      const std::string& what, const std::function<void(const Browser&)>& while_running = nullptr) {
    std::map<std::string, std::vector<Hit>> hits;
    for (const Browser& b : browsers_) {
      server_.Forget();
      Process browser(b.args(server_.Url(0, what)), sandbox_.Path(b.name + ".log"),
                      b.quit == QuitBy::DevTools, b.env);
      const bool arrived = server_.WaitFor(kHosts[2], "/" + what + "/3", b.agent, 120s);
      EXPECT_TRUE(arrived) << b.name << " did not reach the third site; see its log:\n"
                           << Sandbox::ReadFile(sandbox_.Path(b.name + ".log"));
      std::this_thread::sleep_for(1s);
      if (while_running) while_running(b);
      EXPECT_TRUE(browser.Quit(QuitAsker(b))) << b.name << " did not quit when asked";
      hits[b.name] = server_.HitsOf(b.agent);
    }
    return hits;
  }

  Sandbox sandbox_;
  Server server_;
  std::vector<Browser> browsers_;
  std::string display_;
  std::string bus_address_;
  std::unique_ptr<Process> xvfb_;
  std::unique_ptr<Process> bus_;
};

TEST_F(BrowserCookiesTest, DeletedSitesGetNoCookiesOnTheNextVisit) {
  ASSERT_FALSE(browsers_.empty());
  const std::vector<std::string> three{"site-a.test", "site-b.test", "site-c.test"};

  VisitAll("set", [&](const Browser& b) {
    // A running browser's store is never written, and one it writes at once (Firefox's,
    // locked while it runs; GNOME Web's, not locked at all) is still listed.
    int seen = 0;
    for (const platform::CookieStore& store : platform::FindCookieStores()) {
      if (store.path.find(b.store_dir) == std::string::npos) continue;
      ++seen;
      EXPECT_TRUE(store.browser_running) << store.path;
      if (!b.writes_store_at_once) continue;  // Chromium's store is written every 30 s
      EXPECT_EQ(platform::ListCookieSites({store}).sites, three) << store.path;
      platform::CookieDeletion left = platform::DeleteCookieSites({store}, {"site-a.test"});
      EXPECT_EQ(left.stores_left, 1u);
      EXPECT_EQ(left.rows_deleted, 0u);
    }
    EXPECT_EQ(seen, 1) << b.name << " has no cookie store while it runs";
  });
  std::vector<platform::CookieStore> stores = platform::FindCookieStores();
  ASSERT_EQ(stores.size(), browsers_.size()) << "one cookie store per browser";
  for (const platform::CookieStore& store : stores) {
    EXPECT_FALSE(store.browser_running) << store.path;
    EXPECT_EQ(platform::ListCookieSites({store}).sites, three) << store.path;
  }
  EXPECT_EQ(platform::ListCookieFolder(), three);

  // As the cookie folder page deletes: folder, "/", name.
  const std::string folder = platform::CookieFolderPath() + "/";
  EXPECT_EQ(platform::DeletePath(folder + "site-a.test"), 0u);
  EXPECT_EQ(platform::DeletePath(folder + "site-b.test"), 0u);
  EXPECT_EQ(platform::ListCookieFolder(), std::vector<std::string>{"site-c.test"});

  std::map<std::string, std::vector<Hit>> visits = VisitAll("check");
  for (const Browser& b : browsers_) {
    const std::vector<Hit>& hits = visits[b.name];
    int checked = 0;
    for (const Hit& h : hits) {
      if (h.path == "/check/1" || h.path == "/check/2") {
        EXPECT_EQ(h.cookie.find("tidrex_"), std::string::npos)
            << b.name << " sent " << h.cookie << " to " << h.host;
        ++checked;
      } else if (h.path == "/check/3") {
        EXPECT_NE(h.cookie.find("tidrex_c=1"), std::string::npos)
            << b.name << " sent no cookie to the kept site (" << h.cookie << ")";
        ++checked;
      }
    }
    EXPECT_GE(checked, 3) << b.name;
  }
}

// GNOME Web has no switch to map host names: in a mount namespace of its own the test
// gives /etc/hosts the three sites. The file is replaced for this process only. Called
// before any thread exists.
bool MapTheSitesInEtcHosts() {
  char path[] = "/tmp/tidrex-hosts-XXXXXX";
  const int fd = ::mkstemp(path);
  if (fd < 0) return false;
  std::string hosts = "127.0.0.1 localhost";
  for (const char* h : kHosts) hosts += std::string(" ") + h;
  hosts += " site-b.test\n::1 localhost\n";
  const bool written = ::write(fd, hosts.data(), hosts.size()) == static_cast<ssize_t>(hosts.size());
  ::fchmod(fd, 0644);
  ::close(fd);
  const bool mapped = written && ::unshare(CLONE_NEWNS) == 0 &&
                      ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                      ::mount(path, "/etc/hosts", nullptr, MS_BIND, nullptr) == 0;
  ::unlink(path);  // the bind mount keeps the file's contents
  // GLib's resolver asks getaddrinfo for AI_ADDRCONFIG, which answers nothing while no IPv4
  // address but 127.0.0.1 is configured: loopback gets a second one.
  return mapped && std::system("ip addr add 127.0.0.2/32 dev lo >/dev/null 2>&1") == 0;
}

bool BringLoopbackUp() {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ifreq ifr{};
  std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
  bool ok = ::ioctl(fd, SIOCGIFFLAGS, &ifr) == 0;
  ifr.ifr_flags |= IFF_UP | IFF_RUNNING;
  ok = ok && ::ioctl(fd, SIOCSIFFLAGS, &ifr) == 0;
  ::close(fd);
  return ok;
}

}  // namespace
}  // namespace tidrex

int main(int argc, char** argv) {
  constexpr int kSkip = 77;
  bool any = !tidrex::ChromiumBinary().empty() || !tidrex::FirefoxBinary().empty();
  for (const char* b : {"/usr/bin/epiphany-browser", "/usr/bin/falkon", "/usr/bin/qutebrowser"})
    any = any || !tidrex::Installed(b).empty();
  if (!any) {
    std::puts("SKIPPED: none of Chromium, Firefox ESR, GNOME Web, Falkon and qutebrowser is installed");
    return kSkip;
  }
  // Before any thread exists: the namespace then holds the whole process and its children.
  if (::unshare(CLONE_NEWNET) != 0) {
    std::printf("SKIPPED: cannot make a loopback-only network namespace (%s); needs root\n",
                std::strerror(errno));
    return kSkip;
  }
  if (!tidrex::BringLoopbackUp()) {
    std::printf("SKIPPED: cannot bring up loopback in the new namespace (%s)\n",
                std::strerror(errno));
    return kSkip;
  }
  tidrex::g_hosts_mapped = tidrex::MapTheSitesInEtcHosts();
  if (tidrex::ChromiumBinary().empty()) std::puts("note: no Chromium");
  if (tidrex::FirefoxBinary().empty()) std::puts("note: no Firefox ESR");
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
