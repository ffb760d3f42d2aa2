#include "app/command_line.h"

#include <exception>
#include <memory>
#include <string_view>

#include "base/base_error.h"
#include "text/number.h"

namespace {

// Help switches count only as the whole first argument, case-sensitive.
constexpr std::string_view kHelpSwitches[] = {"/h", "/?", "-h", "-?"};

bool IsHelpSwitch(const std::string& argument) {
  for (std::string_view help : kHelpSwitches)
    if (argument == help) return true;
  return false;
}

// A port beyond 16 bits keeps its low 16 bits, so 65536 reads as 0 (missing).
void SetPort(TFrontEnd& state, std::string value) {
  state.Port = static_cast<uint16_t>(static_cast<uint32_t>(ReadNumber(value)));
}

void SetTimeout(TFrontEnd& state, std::string value) { state.Timeout = ReadNumber(value); }

// The other keys keep their text as given. Where a key takes only certain
// values, the check run reads it strictly when it applies it, so that a value
// that is not what the key takes is reported rather than read as another.
template <auto Field>
void Keep(TFrontEnd& state, std::string value) {
  state.*Field = std::move(value);
}

// The keys in the order they are tried; only the first one found in an
// argument applies, so "-host:-port:1" names the host "-port:1".
struct TKey {
  std::string_view Name;
  void (*Apply)(TFrontEnd& state, std::string value);
};
constexpr TKey kKeys[] = {
    {"-host:", Keep<&TFrontEnd::Host>},
    {"-port:", SetPort},
    {"-timeout:", SetTimeout},
    {"-domain:", Keep<&TFrontEnd::Domain>},
    {"-tls:", Keep<&TFrontEnd::Tls>},
    {"-cafile:", Keep<&TFrontEnd::CaFile>},
    {"-certdays:", Keep<&TFrontEnd::CertDays>},
    {"-user:", Keep<&TFrontEnd::User>},
    {"-password:", Keep<&TFrontEnd::Password>},
    {"-passfile:", Keep<&TFrontEnd::PassFile>},
    {"-auth:", Keep<&TFrontEnd::Auth>},
    {"-srv:", Keep<&TFrontEnd::Srv>},
    {"-s2s:", Keep<&TFrontEnd::S2s>},
    {"-ip:", Keep<&TFrontEnd::Ip>},
    {"-deadline:", Keep<&TFrontEnd::Deadline>},
    {"-from:", Keep<&TFrontEnd::From>},
};

// Keys that take the whole rest of an argument that begins with them, so
// that a password may hold any text, other keys' names included.
constexpr TKey kWholeKeys[] = {
    {"-password:", Keep<&TFrontEnd::Password>},
    {"-passfile:", Keep<&TFrontEnd::PassFile>},
};

// A key may stand anywhere in an argument that begins with "-"; its value is
// the argument with the key's first occurrence cut out, so "--host:a" names
// the host "-a".
void ReadKey(TFrontEnd& state, const std::string& argument) {
  if (argument.empty() || argument.front() != '-') return;
  for (const TKey& key : kWholeKeys) {
    if (argument.compare(0, key.Name.size(), key.Name) != 0) continue;
    key.Apply(state, argument.substr(key.Name.size()));
    return;
  }
  for (const TKey& key : kKeys) {
    const size_t at = argument.find(key.Name);
    if (at == std::string::npos) continue;
    key.Apply(state, argument.substr(0, at) + argument.substr(at + key.Name.size()));
    return;
  }
}

}  // namespace

TArguments ArgumentsFrom(std::vector<std::string> list) {
  auto shared = std::make_shared<const std::vector<std::string>>(std::move(list));
  return {static_cast<int>(shared->size()),
          [shared](int index) { return shared->at(static_cast<size_t>(index)); }};
}

void ParseCommandLine(TFrontEnd& state, const TArguments& arguments) {
  try {
    if (arguments.Count <= 0) {
      state.ShowUsage = true;
      return;
    }
    const std::string first = arguments.Read(0);
    if (IsHelpSwitch(first)) {
      state.ShowUsage = true;
      return;
    }
    ReadKey(state, first);
    for (int index = 1; index < arguments.Count; ++index)
      ReadKey(state, arguments.Read(index));
  } catch (const std::exception& failure) {
    // Values read before the failure stay; the rest are not read.
    state.ShowUsage = true;
    state.Verdict = verdictUnknown;
    state.VerdictText = MessageOf(failure);
  }
}
