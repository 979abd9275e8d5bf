#pragma once

#include <string_view>

namespace ordavo {

// Where the core sends the fixed messages the user must see (damaged database, refusals).
// The window shows them as message boxes; tests record them. Texts and titles are UTF-8.
class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual void showMessage(std::string_view text, std::string_view title) = 0;
};

// The title every plain message of the application carries.
inline constexpr std::string_view kAppTitle = "Kinokrat";

}  // namespace ordavo
