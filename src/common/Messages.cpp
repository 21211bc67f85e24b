#include "common/Messages.h"

#include <iostream>
#include <mutex>

namespace quarvel {

namespace {
std::mutex SinkMutex;
TMessageSink& Sink() {
  static TMessageSink sink;
  return sink;
}
} // namespace

void SetMessageSink(TMessageSink sink) {
  std::lock_guard<std::mutex> lock(SinkMutex);
  Sink() = std::move(sink);
}

void ShowMessage(const std::string& title, const std::string& text) {
  TMessageSink sink;
  {
    std::lock_guard<std::mutex> lock(SinkMutex);
    sink = Sink();
  }
  if (sink)
    sink(title, text);
  else
    std::cerr << title << ": " << text << std::endl;
}

} // namespace quarvel
