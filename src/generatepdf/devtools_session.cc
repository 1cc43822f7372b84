#include "devtools_session.h"

#include <Poco/JSON/Array.h>
#include <Poco/JSON/Parser.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/Net/NetException.h>
#include <Poco/URI.h>

#include <sstream>

namespace generatepdf {

namespace {

using Poco::Net::HTTPRequest;
using Poco::Net::HTTPResponse;
using Poco::Net::WebSocket;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Page messages are small; only IO.read chunks are large, and we ask for 1 MB at a time.
constexpr int kMaxMessage = 64 << 20;

Poco::Dynamic::Var askBrowser(int port, const std::string& method, const std::string& path,
                              const Deadline& deadline) {
  Poco::Net::HTTPClientSession http("127.0.0.1", port);
  http.setTimeout(deadline.remaining("connecting to Chromium"));
  HTTPRequest request(method, path, HTTPRequest::HTTP_1_1);
  http.sendRequest(request);
  HTTPResponse response;
  std::istream& body = http.receiveResponse(response);
  if (response.getStatus() != HTTPResponse::HTTP_OK) {
    throw Failure("Chromium answered " + path + " with HTTP " +
                  std::to_string(response.getStatus()));
  }
  return Poco::JSON::Parser().parse(body);
}

std::string pageAddress(int port, const Deadline& deadline) {
  auto targets = askBrowser(port, HTTPRequest::HTTP_GET, "/json/list", deadline)
                     .extract<Poco::JSON::Array::Ptr>();
  for (size_t i = 0; i < targets->size(); ++i) {
    DevToolsSession::Object target = targets->getObject(i);
    if (target && target->optValue<std::string>("type", "") == "page") {
      return target->getValue<std::string>("webSocketDebuggerUrl");
    }
  }
  return askBrowser(port, HTTPRequest::HTTP_PUT, "/json/new?about:blank", deadline)
      .extract<DevToolsSession::Object>()
      ->getValue<std::string>("webSocketDebuggerUrl");
}

}  // namespace

DevToolsSession::DevToolsSession(int port, const Deadline& deadline) : deadline_(deadline) {
  const std::string doing = "connecting to Chromium";
  try {
    Poco::URI address(pageAddress(port, deadline));
    http_ = std::make_unique<Poco::Net::HTTPClientSession>(address.getHost(), address.getPort());
    http_->setTimeout(deadline.remaining(doing));
    HTTPRequest request(HTTPRequest::HTTP_GET, address.getPathAndQuery(), HTTPRequest::HTTP_1_1);
    HTTPResponse response;
    socket_ = std::make_unique<WebSocket>(*http_, request, response);
    socket_->setMaxPayloadSize(kMaxMessage);
  } catch (const Poco::TimeoutException&) {
    throw deadline.timedOut(doing);
  } catch (const Poco::Exception& e) {
    throw Failure("could not connect to Chromium: " + e.displayText());
  }
}

DevToolsSession::Object DevToolsSession::call(const std::string& method, Object params) {
  const int id = ++lastId_;
  Poco::JSON::Object command;
  command.set("id", id);
  command.set("method", method);
  if (params) command.set("params", params);
  std::ostringstream text;
  command.stringify(text);
  const std::string frame = text.str(), doing = "waiting for Chromium to answer " + method;
  try {
    socket_->setSendTimeout(deadline_.remaining(doing));
    socket_->sendFrame(frame.data(), static_cast<int>(frame.size()));
  } catch (const Poco::Exception& e) {
    throw Failure("could not send " + method + " to Chromium: " + e.displayText());
  }
  for (;;) {
    Object message = nextMessage(TimePoint::max(), doing);
    if (!message->has("id")) {
      dispatch(message);
    } else if (message->getValue<int>("id") == id) {
      if (Object error = message->getObject("error")) {
        throw Failure("Chromium refused " + method + ": " +
                      error->optValue<std::string>("message", "no reason given"));
      }
      Object result = message->getObject("result");
      return result ? result : Object(new Poco::JSON::Object);
    }
  }
}

bool DevToolsSession::waitFor(const std::function<bool()>& done, TimePoint until,
                              const std::string& doing) {
  while (!done()) {
    if (Clock::now() >= until) return false;
    // Short slices, since done() may turn true with time alone.
    Object message = nextMessage(std::min(until, Clock::now() + 50ms), doing);
    if (message && !message->has("id")) dispatch(message);
  }
  return true;
}

// The next message, or null once until has passed with none.
DevToolsSession::Object DevToolsSession::nextMessage(TimePoint until, const std::string& doing) {
  try {
    // Polling first and reading the whole frame after it: a receive timeout
    // in the middle of a frame would leave the stream unreadable.
    while (!socket_->poll(Poco::Timespan(100 * 1000), Poco::Net::Socket::SELECT_READ)) {
      deadline_.check(doing);
      if (Clock::now() >= until) return nullptr;
    }
    return Poco::JSON::Parser().parse(readMessage(doing)).extract<Object>();
  } catch (const Poco::TimeoutException&) {
    throw deadline_.timedOut(doing);
  } catch (const Poco::Exception& e) {
    if (e.code() == Poco::Net::WebSocket::WS_ERR_PAYLOAD_TOO_BIG) {
      throw Failure("Chromium sent a DevTools message above 64 MB");
    }
    throw Failure("lost the DevTools connection " + doing + ": " + e.displayText());
  }
}

std::string DevToolsSession::readMessage(const std::string& doing) {
  Poco::Buffer<char> buffer(0);
  for (;;) {
    socket_->setReceiveTimeout(deadline_.remaining(doing));
    const size_t before = buffer.size();
    int flags = 0;
    int size = socket_->receiveFrame(buffer, flags);
    int opcode = flags & WebSocket::FRAME_OP_BITMASK;
    if ((size == 0 && flags == 0) || opcode == WebSocket::FRAME_OP_CLOSE) {
      throw Failure("Chromium closed the DevTools connection " + doing);
    }
    if (opcode == WebSocket::FRAME_OP_PING || opcode == WebSocket::FRAME_OP_PONG) {
      if (opcode == WebSocket::FRAME_OP_PING) {
        socket_->sendFrame(buffer.begin() + before, size,
                           WebSocket::FRAME_FLAG_FIN | static_cast<int>(WebSocket::FRAME_OP_PONG));
      }
      buffer.resize(before);  // control frames may come between the parts of a message
      continue;
    }
    if (buffer.size() > static_cast<size_t>(kMaxMessage)) {
      throw Failure("Chromium sent a DevTools message above 64 MB");
    }
    if (flags & WebSocket::FRAME_FLAG_FIN) return std::string(buffer.begin(), buffer.size());
  }
}

void DevToolsSession::dispatch(const Object& message) {
  if (!handler_) return;
  Object params = message->getObject("params");
  handler_(message->optValue<std::string>("method", ""),
           params ? params : Object(new Poco::JSON::Object));
}

}  // namespace generatepdf
