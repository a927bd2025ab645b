// The status block as another process may leave it: any 340 bytes, with or without the
// magic, a device name without terminator, any owner. The panel's reads (its ASIO page's
// wording included) and writes and the driver's publications run over it in any order; each must stay inside the block, touch
// nothing without the magic, and change only the words it names.
//
// Input: flags (bit 0 stamps the magic, bit 1 fills the device name without a terminator),
// the length of the operation stream, the operations, then the block image (zero-padded).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <memory>

#include "AsioPageText.h"
#include "StatusBlock.h"

using namespace tess;

namespace {

struct Reader {
  const uint8_t* p;
  size_t n;
  uint8_t byte() {
    if (!n) return 0;
    --n;
    return *p++;
  }
  uint32_t word() {
    uint32_t w = 0;
    for (int i = 0; i < 4; ++i) w |= static_cast<uint32_t>(byte()) << (8 * i);
    return w;
  }
};

void check(bool ok) {
  if (!ok) std::abort();
}

uint32_t wordAt(const uint8_t* block, size_t offset) {
  uint32_t w;
  std::memcpy(&w, block + offset, 4);
  return w;
}

constexpr size_t kState = offsetof(StatusBlockLayout, state);
constexpr size_t kLoaded = offsetof(StatusBlockLayout, settingsLoaded);
constexpr size_t kOwner = offsetof(StatusBlockLayout, owner);
constexpr size_t kChanged = offsetof(StatusBlockLayout, changed);
constexpr size_t kShowPanel = offsetof(StatusBlockLayout, showPanel);
constexpr size_t kBufferSize = offsetof(StatusBlockLayout, bufferSizeSetting);
constexpr size_t kBits = offsetof(StatusBlockLayout, bitsPerSampleSetting);
constexpr size_t kBuffer = offsetof(StatusBlockLayout, buffer);
constexpr size_t kRate = offsetof(StatusBlockLayout, rate);
constexpr size_t kWidth = offsetof(StatusBlockLayout, widthInUse);
constexpr size_t kRates = offsetof(StatusBlockLayout, supportedRates);
constexpr size_t kWidths = offsetof(StatusBlockLayout, supportedWidths);
constexpr size_t kName = offsetof(StatusBlockLayout, deviceName);
constexpr size_t kDsd = offsetof(StatusBlockLayout, dsd);
constexpr size_t kDsd128 = offsetof(StatusBlockLayout, dsd128);
constexpr size_t kDsd256 = offsetof(StatusBlockLayout, dsd256);
constexpr size_t kNativeDsd = offsetof(StatusBlockLayout, nativeDsd);
constexpr size_t kReset = offsetof(StatusBlockLayout, resetRequest);

// The words an operation may change; every other byte of the block must keep its value.
struct Writes {
  bool word[kStatusBlockSize / 4] = {};
  void allow(std::initializer_list<size_t> offsets) {
    for (size_t o : offsets) word[o / 4] = true;
  }
  void allowRange(size_t offset, size_t bytes) {
    for (size_t o = offset; o < offset + bytes; o += 4) word[o / 4] = true;
  }
};

void checkOnlyWrote(const uint8_t* before, const uint8_t* after, const Writes& w) {
  for (size_t at = 0; at < kStatusBlockSize; at += 4)
    if (!w.word[at / 4]) check(std::memcmp(before + at, after + at, 4) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in{data, size};
  const uint8_t flags = in.byte();
  const size_t opBytes = in.byte();
  Reader ops{in.p, opBytes < in.n ? opBytes : in.n};
  in.p += ops.n;
  in.n -= ops.n;

  // The block in an allocation of exactly its size, so that any access past it is caught.
  std::unique_ptr<uint8_t[]> block(new uint8_t[kStatusBlockSize]());
  std::memcpy(block.get(), in.p, in.n < kStatusBlockSize ? in.n : kStatusBlockSize);
  if (flags & 1) std::memcpy(block.get(), &kStatusBlockMagic, 4);
  if (flags & 2) std::memset(block.get() + kName, 'A', 256);
  StatusBlockView view(block.get());
  check(view.exists() && !StatusBlockView().valid() && StatusBlockView().state() == 0);

  uint8_t before[kStatusBlockSize];
  while (ops.n) {
    std::memcpy(before, block.get(), kStatusBlockSize);
    const bool valid = wordAt(before, 0) == kStatusBlockMagic;
    check(view.valid() == valid);

    // The identity an operation acts for: the block's own owner, a stranger, or nobody.
    Identity id{};
    const uint8_t op = ops.byte();
    switch (op >> 6) {
      case 0: std::memcpy(id.bytes, before + kOwner, 16); break;
      case 1: for (int i = 0; i < 16; ++i) id.bytes[i] = static_cast<uint8_t>(0xA0 + i); break;
      case 2: break;
      default: id.bytes[ops.byte() & 15] = ops.byte(); break;
    }
    const bool owned = valid && std::memcmp(before + kOwner, id.bytes, 16) == 0;
    static const uint8_t kZero[16] = {};
    const bool free = valid && std::memcmp(before + kOwner, kZero, 16) == 0;
    Writes w;
    bool ok = false;
    bool expected = false;  // what an operation that may fail should return

    switch (op % 27) {
      case 0:
        check(view.ownedBy(id) == owned && view.free() == free && view.settingsLoaded() == (valid && wordAt(before, kLoaded)));
        continue;
      case 1:
        check(view.state() == (valid ? wordAt(before, kState) : 0));
        continue;
      case 2: {
        const size_t offset = size_t{ops.byte()} * 2;  // aligned or not, inside or past the block
        const bool inside = offset % 4 == 0 && offset + 4 <= kStatusBlockSize;
        check(view.field(offset) == (valid && inside ? wordAt(before, offset) : 0));
        continue;
      }
      case 3: {
        const size_t outSize = ops.byte() + (ops.byte() & 1) * 200;
        std::unique_ptr<char[]> out(new char[outSize ? outSize : 1]);
        std::memset(out.get(), 0x7F, outSize ? outSize : 1);
        view.deviceName(outSize ? out.get() : nullptr, outSize);
        if (outSize) {
          const size_t length = strnlen(out.get(), outSize);
          check(length < outSize && length <= 256);
          check(std::memcmp(out.get(), before + kName, length) == 0);
          if (!valid) check(length == 0);
          // It stops at the name's end, the block's field end or the caller's buffer.
          if (valid && length + 1 < outSize && length < 256) check(before[kName + length] == 0);
        }
        continue;
      }
      case 4: {
        Identity o = view.owner();
        check(std::memcmp(o.bytes, valid ? before + kOwner : kZero, 16) == 0);
        continue;
      }
      case 5: {
        BlockSettings s;
        check(view.readSettings(s) == valid);
        if (valid) {
          check(s.bufferSize == wordAt(before, kBufferSize) && s.bitsPerSample == wordAt(before, kBits) &&
                s.supportedRates == wordAt(before, kRates) && s.supportedWidths == wordAt(before, kWidths));
        }
        continue;
      }
      case 6:  // the panel's one-second poll
        ok = view.takeChanged();
        expected = valid && wordAt(before, kChanged) != 0;
        w.allow({kChanged});
        if (expected) check(wordAt(block.get(), kChanged) == 0);
        break;
      case 7:
        ok = view.takeShowPanel();
        expected = valid && wordAt(before, kShowPanel) != 0;
        w.allow({kShowPanel});
        break;
      case 8: {
        const uint32_t bufferSize = ops.word(), bits = ops.byte();
        ok = view.setPanelSettings(bufferSize, bits);
        expected = valid;
        w.allow({kBufferSize, kBits});
        if (ok) check(wordAt(block.get(), kBufferSize) == bufferSize && wordAt(block.get(), kBits) == bits);
        break;
      }
      case 9:
        ok = view.requestReset();
        expected = valid;
        w.allow({kReset});
        break;
      case 10:
        ok = view.claim(id);
        expected = free;
        w.allow({kState, kChanged});
        w.allowRange(kOwner, 16);
        if (ok) check(view.ownedBy(id) && view.state() == kStateLoaded);
        break;
      case 11:
        ok = view.release(id);
        expected = owned;
        w.allow({kState, kChanged});
        w.allowRange(kOwner, 16);
        if (ok) check(view.free() && view.state() == kStateUnload);
        break;
      case 12: {
        // A name of any length from the stream, terminated, in a buffer of its exact size.
        const size_t length = ops.byte() + (ops.byte() & 1) * 200;
        std::unique_ptr<char[]> name(new char[length + 1]);
        for (size_t i = 0; i < length; ++i) name[i] = static_cast<char>(ops.byte() | 1);
        name[length] = 0;
        ok = view.publishDeviceName(id, (op & 0x20) ? nullptr : name.get());
        expected = owned;
        w.allow({kChanged});
        w.allowRange(kName, 256);
        if (ok) {
          char back[300];
          view.deviceName(back, sizeof back);
          const size_t kept = (op & 0x20) ? 0 : (length < 255 ? length : 255);
          check(strlen(back) == kept && std::memcmp(back, name.get(), kept) == 0);
        }
        break;
      }
      case 13:
        ok = view.publishState(id, ops.byte() % 6);
        expected = owned;
        w.allow({kState, kChanged});
        break;
      case 14: {
        InitPublication p{ops.word(), ops.word(), ops.byte(), ops.word(), ops.word()};
        ok = view.publishInit(id, p);
        expected = owned;
        w.allow({kBuffer, kRate, kWidth, kState, kWidths, kRates, kChanged});
        if (ok) check(wordAt(block.get(), kWidths) == (p.supportedWidths & 0xF) && view.state() == kStateInitialized);
        break;
      }
      case 15: {
        const uint8_t b = ops.byte();
        BuffersPublication p{ops.word(), bool(b & 1), bool(b & 2), bool(b & 4), bool(b & 8)};
        ok = view.publishBuffers(id, p);
        expected = owned;
        w.allow({kState, kBuffer, kDsd, kDsd128, kDsd256, kNativeDsd, kChanged});
        break;
      }
      case 16:
        ok = view.publishDisposed(id);
        expected = owned;
        w.allow({kState, kDsd, kDsd128, kNativeDsd, kChanged});
        break;
      case 17:
        ok = view.publishDopDetected(id, ops.byte() & 1);
        expected = owned;
        w.allow({kDsd, kDsd128, kChanged});
        break;
      case 18:
        ok = view.publishDopFlags(id, ops.byte() & 1, ops.byte() & 1);
        expected = owned;
        w.allow({kDsd, kDsd128, kChanged});
        break;
      case 19:
        ok = view.takeResetRequest(id);
        expected = owned && wordAt(before, kReset) != 0;
        w.allow({kReset});
        if (ok) check(wordAt(block.get(), kReset) == 0);
        break;
      case 20:
        ok = view.publishRate(ops.word());
        expected = valid;
        w.allow({kRate, kChanged});
        break;
      case 21:
        ok = view.publishWidthInUse(ops.byte());
        expected = valid;
        w.allow({kWidth, kChanged});
        break;
      case 22:
        ok = view.requestShowPanel();
        expected = valid;
        w.allow({kShowPanel, kChanged});
        break;
      case 23: {
        BlockSettings s{ops.word(), ops.byte(), ops.word(), ops.byte()};
        ok = view.loadSettingsOnce(s);
        expected = valid && wordAt(before, kLoaded) == 0;
        w.allow({kBufferSize, kBits, kRates, kWidths, kLoaded, kChanged});
        if (ok) {
          BlockSettings back;
          check(view.readSettings(back) && back.bufferSize == s.bufferSize && back.bitsPerSample == s.bitsPerSample &&
                back.supportedRates == s.supportedRates && back.supportedWidths == s.supportedWidths);
        }
        break;
      }
      case 24: {
        // Publications that change fields end with the changed flag.
        ok = view.publishState(id, kStateRunning);
        expected = owned;
        w.allow({kState, kChanged});
        if (ok) check(wordAt(block.get(), kChanged) == 1 && view.takeChanged() && !view.takeChanged());
        break;
      }
      case 25: {  // the ASIO page's reading: words and a stream line for any field values
        AsioPageView page = readAsioPageView(view);
        const uint32_t state = wordAt(before, kState);
        check(page.valid == valid && page.running == (valid && state == kStateRunning));
        check(std::strcmp(page.stateWord, asioStateWord(valid ? state : 0)) == 0);
        check(page.streamLine.empty() != page.running);
        if (page.running) {
          check(page.streamLine.compare(0, 11, "2 Channel, ") == 0 && page.streamLine.size() < 260);
          check(std::strcmp(asioModeText(page.mode), "PCM") == 0 || wordAt(before, kDsd) == 1);
        }
        continue;
      }
      default:  // a creator starting over: the block becomes valid and empty
        view.initialiseCreated();
        for (size_t at = 4; at < kStatusBlockSize; at += 4) check(wordAt(block.get(), at) == 0);
        check(view.valid() && view.free() && !view.settingsLoaded());
        continue;
    }
    check(ok == expected);
    if (!ok) w = Writes{};  // a refused operation leaves every byte as it was
    checkOnlyWrote(before, block.get(), w);
    if (!valid) check(std::memcmp(before, block.get(), kStatusBlockSize) == 0);
    check(wordAt(block.get(), 0) == wordAt(before, 0));  // only a creator writes the magic
  }
  return 0;
}
