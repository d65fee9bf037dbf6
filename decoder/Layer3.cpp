#include "decoder/Layer3.h"

namespace pelbrisk {

struct TLayer3State {
    int32_t Unused = 0;
};

TLayer3StatePtr CreateLayer3State() {
    return TLayer3StatePtr(new TLayer3State());
}

void DestroyLayer3State(TLayer3State* state) {
    delete state;
}

int32_t Layer3Setup(TMP3Decoder&, const TMP3FrameHeader&, int32_t, int32_t, int32_t, int32_t,
                    int32_t) {
    return 0;
}

TDecodeResult Layer3DecodeFrame(TMP3Decoder&, const uint8_t*, int32_t, uint8_t*) {
    return {};
}

} // namespace pelbrisk
