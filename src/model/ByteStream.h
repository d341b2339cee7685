#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

namespace mb {

// Appends little-endian values to a byte buffer.
class ByteWriter {
public:
    void I16(int16_t v) { Put(static_cast<uint16_t>(v), 2); }
    void U16(uint16_t v) { Put(v, 2); }
    void I32(int32_t v) { Put(static_cast<uint32_t>(v), 4); }
    void U8(uint8_t v) { bytes_.push_back(v); }
    void F32(float v) {
        uint32_t bits;
        std::memcpy(&bits, &v, 4);
        Put(bits, 4);
    }
    void F64(double v) {
        uint64_t bits;
        std::memcpy(&bits, &v, 8);
        Put(bits, 8);
    }
    void Bytes(std::span<const uint8_t> data) {
        bytes_.insert(bytes_.end(), data.begin(), data.end());
    }

    const std::vector<uint8_t>& bytes() const { return bytes_; }
    std::vector<uint8_t> Take() { return std::move(bytes_); }

private:
    void Put(uint64_t v, int n) {
        for (int i = 0; i < n; ++i)
            bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    std::vector<uint8_t> bytes_;
};

// Reads little-endian values from a byte span. A read past the end returns 0 and
// sets failed(); every later read fails too, so a caller may read a whole record
// and check once.
class ByteReader {
public:
    explicit ByteReader(std::span<const uint8_t> data) : data_(data) {}

    int16_t I16() { return static_cast<int16_t>(Get(2)); }
    uint16_t U16() { return static_cast<uint16_t>(Get(2)); }
    int32_t I32() { return static_cast<int32_t>(Get(4)); }
    uint8_t U8() { return static_cast<uint8_t>(Get(1)); }
    float F32() {
        uint32_t bits = static_cast<uint32_t>(Get(4));
        float v;
        std::memcpy(&v, &bits, 4);
        return v;
    }
    double F64() {
        uint64_t bits = Get(8);
        double v;
        std::memcpy(&v, &bits, 8);
        return v;
    }
    // The next n bytes, or an empty span (and failed()) when fewer remain.
    std::span<const uint8_t> Bytes(size_t n) {
        if (failed_ || remaining() < n) {
            failed_ = true;
            return {};
        }
        auto out = data_.subspan(pos_, n);
        pos_ += n;
        return out;
    }

    size_t position() const { return pos_; }
    size_t remaining() const { return data_.size() - pos_; }
    bool failed() const { return failed_; }

private:
    uint64_t Get(int n) {
        if (failed_ || remaining() < static_cast<size_t>(n)) {
            failed_ = true;
            return 0;
        }
        uint64_t v = 0;
        for (int i = 0; i < n; ++i)
            v |= static_cast<uint64_t>(data_[pos_ + i]) << (8 * i);
        pos_ += n;
        return v;
    }
    std::span<const uint8_t> data_;
    size_t pos_ = 0;
    bool failed_ = false;
};

} // namespace mb
