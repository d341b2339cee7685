#include "model/Step.h"

namespace mb {

int Step::GetParam(int code) const {
    switch (code) {
    case kParamOn:
        return on != 0 ? 1 : 0;
    case kParamPitch:
        return pitch;
    case kParamSound:
        return sound;
    case kParamVolume:
        return volume;
    case kParamPan:
        return pan;
    case kParamDValue:
        return dValue;
    default:
        return 0;
    }
}

void Step::SetParam(int code, int v) {
    const auto v16 = static_cast<int16_t>(v);
    switch (code) {
    case kParamOn:
        on = static_cast<int16_t>(v != 0 ? 1 : 0);
        break;
    case kParamPitch:
        pitch = v16;
        break;
    case kParamSound:
        sound = v16;
        break;
    case kParamVolume:
        volume = v16;
        break;
    case kParamPan:
        pan = v16;
        break;
    case kParamDValue:
        dValue = v16;
        break;
    default:
        break;
    }
}

void Step::CopyValues(const Step& other) {
    if (&other == this)
        return;
    on = other.on;
    pitch = other.pitch;
    sound = other.sound;
    volume = other.volume;
    pan = other.pan;
    dValue = other.dValue;
    playback.Clear();
}

void Step::WriteValues(ByteWriter& out) const {
    out.I16(on);
    out.I16(pitch);
    out.I16(sound);
    out.I16(volume);
    out.I16(pan);
    out.I16(dValue);
}

void Step::ReadValues(ByteReader& in) {
    on = in.I16();
    pitch = in.I16();
    sound = in.I16();
    volume = in.I16();
    pan = in.I16();
    dValue = in.I16();
}

} // namespace mb
