// Where a component writes its operator log lines (UTF-8, without the time prefix): the program
// that puts the components together decides, tests record them.
#pragma once

#include <functional>
#include <string>

using TLogSink = std::function<void(const std::string& line)>;
