#include "app/buffersizes.h"

#include <QComboBox>

#include "controls/brain.h"

void FillBufferSizeList(QComboBox& BS) {
  for (const BufferSize& size : kBufferSizes) BS.addItem(QLatin1String(size.label));
}

void InitBrain(Brain& brain, QComboBox& BS) {
  for (const BufferSize& size : kBufferSizes) brain.AddCell(QLatin1String(size.label), size.count);
  BS.setCurrentIndex(kDefaultBufferSize);
}

std::optional<qint32> BufferByteCount(Brain& brain, const QString& label) {
  const QString answer = brain.Response(label);
  bool ok = false;
  const qint32 count = answer.toInt(&ok, 10);
  if (!ok) return std::nullopt;
  return count;
}
