// Text of the call log lines and names of the dump files. Every line is
// "<seq> <ms since load> <what> ...", one per call, event or command.
#pragma once

#include "sim_engine.h"

#include <cstdint>
#include <string>

// "option-0003.bin", "flash-0012.bin": the sequence number, 4 digits at least.
std::string DumpFileName(const char* kind, uint32_t seq);

// The full line, newline included.
std::string LogLine(uint32_t seq, uint32_t ms, const std::string& text);

std::string EnumCallText(uint32_t maxCount, int32_t result);
// `note` ends the line: "dump=<file>", "dump=failed" or "error=<why>".
std::string OptionCallText(int32_t mode, uint32_t callbackField, int32_t result,
                           const std::string& note);
// `args` are the last four arguments.
std::string FlashCallText(uint32_t deviceId, uint32_t length, const int32_t args[4], int32_t result,
                          const std::string& note);
// `result` is the callback's answer, or a word such as "no-callback";
// `inCall` names the export the callback was called from, if any.
std::string EventText(const SimEvent& event, const std::string& result,
                      const char* inCall = nullptr);
// The error line of a write whose image buffer changed while it ran.
std::string ImageChangedText(uint32_t deviceId, const SimImageChange& change);
// The event thread begins a rescan of `ms` before it calls back with `next`.
std::string RescanText(uint32_t ms, bool underLock, const SimEvent& next);
