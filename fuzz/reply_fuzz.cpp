// Adapter bytes in arbitrary pieces, with time-outs between them, through the
// scan: reply check, decoding, boxes and gauges must hold up, and the check
// that looks only at new characters must agree with the check of the whole.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdlib>

#include "tests/support/scan_rig.h"

namespace {

using namespace tarvex;

void growingCheckAgreesWithWholeCheck(FuzzedDataProvider& in) {
  const ReplyShape shape{
      QString::fromLatin1(in.ConsumeBytesAsString(in.ConsumeIntegralInRange<std::size_t>(0, 8))),
      in.ConsumeIntegralInRange(0, 8), in.ConsumeIntegralInRange(0, 2)};
  const QString buffer =
      QString::fromLatin1(in.ConsumeBytesAsString(in.ConsumeIntegralInRange<std::size_t>(0, 64)));
  ReplyCheck check(shape);
  for (qsizetype n = 1; n <= buffer.size(); ++n) {
    const QStringView seen = QStringView(buffer).left(n);
    const std::optional<QString> growing = check.check(seen), whole = checkReply(seen, shape);
    if (growing != whole) std::abort();
    if (whole) return;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  growingCheckAgreesWithWholeCheck(in);

  testing::ScanRig rig;
  while (in.remaining_bytes() > 0) {
    if (in.ConsumeBool()) rig.clock.advance(Millis{in.ConsumeIntegralInRange(0, 200)});
    rig.port.receive(QByteArray::fromStdString(in.ConsumeRandomLengthString(64)));
  }
  if (rig.scan.link().buffer().size() > AdapterLink::kMaxBuffer) std::abort();
  return 0;
}
