// User notices ("Shader Error", warnings) go through one sink that the program sets:
// the window shows a message box, the command line writes to standard error.
#pragma once

#include <functional>
#include <string>

namespace quarvel {

using TMessageSink = std::function<void(const std::string& title, const std::string& text)>;

// Replaces the sink; an empty function restores the default (standard error).
void SetMessageSink(TMessageSink sink);
void ShowMessage(const std::string& title, const std::string& text);

} // namespace quarvel
