#include "screen_text.h"

namespace {
constexpr UINT kCodePage = 936;

constexpr bool IsLeadByte(unsigned char byte) { return byte >= 0x81 && byte <= 0xFE; }
constexpr bool IsTrailByte(unsigned char byte) {
    return byte >= 0x40 && byte <= 0xFE && byte != 0x7F;
}
static_assert(IsLeadByte(0xB0) && IsTrailByte(0xA1) && !IsTrailByte('\n') && !IsTrailByte(0x7F));
} // namespace

ScreenText::ScreenText(const char* cp936) {
    // Cleaned bytes first: MultiByteToWideChar fails outright on a short
    // buffer, and some platforms convert a lead byte together with whatever
    // byte follows it.
    std::array<char, kScreenTextChars> bytes;
    size_t used = 0;
    const unsigned char* in = reinterpret_cast<const unsigned char*>(cp936 ? cp936 : "");
    while (*in != 0) {
        bool pair = IsLeadByte(in[0]) && IsTrailByte(in[1]);
        size_t step = pair ? 2 : 1;
        if (used + step >= bytes.size())
            break;
        if (IsLeadByte(in[0]) && !pair) {
            bytes[used++] = '?';
        } else {
            for (size_t i = 0; i < step; ++i)
                bytes[used++] = static_cast<char>(in[i]);
        }
        in += step;
    }
    int length = used == 0 ? 0
                           : MultiByteToWideChar(kCodePage, 0, bytes.data(), static_cast<int>(used),
                                                 wide_.data(), static_cast<int>(wide_.size() - 1));
    wide_[length > 0 ? static_cast<size_t>(length) : 0] = L'\0';
}

void ReadControlTextCp936(HWND dialog, int id, char* out, size_t outSize) {
    if (outSize == 0)
        return;
    out[0] = '\0';
    // No more characters than the output can hold at two bytes each, so the
    // conversion never fails for want of room.
    std::array<wchar_t, kScreenTextChars> wide;
    size_t capacity = (outSize - 1) / 2 + 1;
    if (capacity > wide.size())
        capacity = wide.size();
    UINT length = GetDlgItemTextW(dialog, id, wide.data(), static_cast<int>(capacity));
    if (length == 0)
        return;
    // Flags 0: the same mapping the narrow functions apply for CP936.
    int bytes = WideCharToMultiByte(kCodePage, 0, wide.data(), static_cast<int>(length), out,
                                    static_cast<int>(outSize - 1), nullptr, nullptr);
    out[bytes > 0 ? static_cast<size_t>(bytes) : 0] = '\0';
}
