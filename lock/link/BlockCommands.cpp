// The commands that move the configuration image: read a block, write a block, end a write.
#include "V38Bank.h"

#include <algorithm>

namespace v38 {

Block V38Bank::readBlock(int block) {
    Block data{};
    if (!isBlock(block))
        return data;
    const std::uint8_t request[] = {ReadBlockRequest, static_cast<std::uint8_t>(block)};
    // A whole frame of another size (an ACK, a short or a long payload) is no block:
    // taking it would fill the image with bytes the lock never sent.
    const int size = transact(sizeof request, request, static_cast<int>(BlockSize), data.data(),
                              timing::ReadBlockExtraMs);
    if (size != static_cast<int>(BlockSize))
        throw CommErr();
    return data;
}

void V38Bank::writeBlock(int block, const Block& data) {
    if (!isBlock(block))
        return;
    std::array<std::uint8_t, WriteRequestSize> request{};
    request[0] = WriteBlockRequest;
    request[1] = static_cast<std::uint8_t>(block);
    std::copy(data.begin(), data.end(), request.begin() + 2);
    command(static_cast<int>(request.size()), request.data(), timing::WriteBlockExtraMs);
}

void V38Bank::finishWrite() {
    const std::uint8_t request = FinishWriteRequest;
    command(FinishRequestSize, &request, timing::FinishWriteExtraMs);
}

} // namespace v38
