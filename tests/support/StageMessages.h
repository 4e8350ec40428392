// The status texts a good write shows on its way to programming, for the
// tests that compare a write's messages: the bit-rate adjustment, then the
// boot-mode stages up to the user-area selection.
#pragma once

#include <string>
#include <vector>

inline const std::vector<std::string> kAdjustmentMessages = {"bit rate adjust", "get ack 1", "bit rate adjust complete",
                                                             "get ack 2"};

inline const std::vector<std::string> kBootStageMessages = {"get ack 3",
                                                            "get ack 4",
                                                            "get ack 5",
                                                            "get ack 6",
                                                            "get ack 7",
                                                            "get ack 8",
                                                            "get ack 9",
                                                            "get ack 10",
                                                            "FLASH ROM Ereasing,,,",
                                                            "FLASH ROM Erase complete! 11",
                                                            "boot mat select done 12"};

// Both, in the order a write shows them.
inline std::vector<std::string> GoodWriteMessages() {
    std::vector<std::string> all = kAdjustmentMessages;
    all.insert(all.end(), kBootStageMessages.begin(), kBootStageMessages.end());
    return all;
}
