#include "text/out_buffer.h"

#include <cstring>

void AppendBytes(TOutBuffer& Buffer, const void* Source, std::uint32_t Count) {
  if (Count == 0 || Buffer.Len >= OutBufferCapacity) return;
  const std::uint32_t room = OutBufferCapacity - Buffer.Len;
  if (Count >= room) Count = room;
  std::memcpy(Buffer.Data + Buffer.Len, Source, Count);
  Buffer.Len = static_cast<std::uint16_t>(Buffer.Len + Count);
}

void AppendText(TOutBuffer& Buffer, const std::string& Text) {
  // A string longer than 4 GiB is cut by the capacity anyway; clamp the count
  // so the narrowing cannot wrap it to a small number.
  const std::uint32_t count =
      Text.size() > OutBufferCapacity ? OutBufferCapacity : static_cast<std::uint32_t>(Text.size());
  AppendBytes(Buffer, Text.data(), count);
}
