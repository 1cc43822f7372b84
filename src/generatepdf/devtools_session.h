// One DevTools connection to a page of a local Chromium. Commands go out
// numbered; call() returns the reply that carries its number, and events that
// arrive meanwhile go to the event handler. Every wait is bounded by the
// deadline, and a message above 64 MB ends the session with a Failure instead
// of taking the memory.
#pragma once

#include <Poco/JSON/Object.h>
#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/WebSocket.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "deadline.h"

namespace generatepdf {

class DevToolsSession {
 public:
  using Object = Poco::JSON::Object::Ptr;
  using EventHandler = std::function<void(const std::string& method, const Object& params)>;
  using TimePoint = std::chrono::steady_clock::time_point;

  // Connects to the first page of the Chromium listening on port, opening one if it has none.
  DevToolsSession(int port, const Deadline& deadline);
  DevToolsSession(const DevToolsSession&) = delete;
  DevToolsSession& operator=(const DevToolsSession&) = delete;

  void onEvent(EventHandler handler) { handler_ = std::move(handler); }

  // Sends the command and returns the result of its reply; throws Failure
  // with Chromium's message when the reply is an error.
  Object call(const std::string& method, Object params = nullptr);

  // Hands events to the handler until done() holds (true) or until passes
  // (false); the deadline still applies. doing names the wait for a timeout.
  bool waitFor(const std::function<bool()>& done, TimePoint until, const std::string& doing);

 private:
  Object nextMessage(TimePoint until, const std::string& doing);
  std::string readMessage(const std::string& doing);
  void dispatch(const Object& message);

  const Deadline& deadline_;
  std::unique_ptr<Poco::Net::HTTPClientSession> http_;
  std::unique_ptr<Poco::Net::WebSocket> socket_;
  EventHandler handler_;
  int lastId_ = 0;
};

}  // namespace generatepdf
