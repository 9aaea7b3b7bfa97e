#include "link/SerialMessage.h"

bool TMessageAssembly::Feed(uint8_t b, uint8_t startChar, uint8_t endChar,
                            uint16_t appendCount)
{
    const char c = static_cast<char>(b);
    // The trailer takes any byte, start and end bytes included.
    if (MessageState == Appending) {
        MessageText += c;
        if (--AppendLeft > 0)
            return false;
        MessageState = Complete;
        return true;
    }
    // Tested before the end byte: equal start and end bytes always restart.
    if (b == startChar) {
        MessageState = Collecting;
        MessageText.assign(1, c);
        return false;
    }
    if (b == endChar) {
        if (MessageState != Collecting)
            return false;
        MessageText += c;
        if (appendCount == 0) {
            MessageState = Complete;
            return true;
        }
        MessageState = Appending;
        AppendLeft = appendCount;
        return false;
    }
    if (MessageState == Collecting)
        MessageText += c;
    return false;
}
