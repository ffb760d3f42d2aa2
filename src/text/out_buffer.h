#pragma once
// The fixed-capacity buffer in which each outgoing stanza is assembled before
// it goes to the socket in one send.

#include <cstdint>
#include <string>

// Number of data bytes a TOutBuffer holds; a full buffer holds all of them.
constexpr std::uint32_t OutBufferCapacity = 8192;

// A plain value record, declared uncleared in the caller's frame: only the
// first Len bytes of Data mean anything. Emptying it is setting Len to 0.
struct TOutBuffer {
  char Data[OutBufferCapacity];
  std::uint16_t Len;
};

// Appends Count bytes from Source. Bytes beyond the capacity are dropped
// without a report; Len reaching OutBufferCapacity is the only trace.
void AppendBytes(TOutBuffer& Buffer, const void* Source, std::uint32_t Count);

// Appends every byte of Text, zero bytes included, cut at the capacity like
// AppendBytes.
void AppendText(TOutBuffer& Buffer, const std::string& Text);
