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

void SetHost(TFrontEnd& state, std::string value) { state.Host = std::move(value); }

// A port beyond 16 bits keeps its low 16 bits, so 65536 reads as 0 (missing).
void SetPort(TFrontEnd& state, std::string value) {
  state.Port = static_cast<uint16_t>(static_cast<uint32_t>(ReadNumber(value)));
}

void SetTimeout(TFrontEnd& state, std::string value) { state.Timeout = ReadNumber(value); }

void SetDomain(TFrontEnd& state, std::string value) { state.Domain = std::move(value); }

void SetTls(TFrontEnd& state, std::string value) { state.Tls = std::move(value); }

void SetCaFile(TFrontEnd& state, std::string value) { state.CaFile = std::move(value); }

// Read strictly when the check applies it, so that a value that is no number
// is reported rather than read as 0.
void SetCertDays(TFrontEnd& state, std::string value) { state.CertDays = std::move(value); }

void SetUser(TFrontEnd& state, std::string value) { state.User = std::move(value); }

void SetPassword(TFrontEnd& state, std::string value) { state.Password = std::move(value); }

void SetPassFile(TFrontEnd& state, std::string value) { state.PassFile = std::move(value); }

void SetAuth(TFrontEnd& state, std::string value) { state.Auth = std::move(value); }

void SetSrv(TFrontEnd& state, std::string value) { state.Srv = std::move(value); }

void SetS2s(TFrontEnd& state, std::string value) { state.S2s = std::move(value); }

void SetIp(TFrontEnd& state, std::string value) { state.Ip = std::move(value); }

void SetDeadline(TFrontEnd& state, std::string value) { state.Deadline = std::move(value); }

void SetFrom(TFrontEnd& state, std::string value) { state.From = std::move(value); }

// The keys in the order they are tried; only the first one found in an
// argument applies, so "-host:-port:1" names the host "-port:1".
struct TKey {
  std::string_view Name;
  void (*Apply)(TFrontEnd& state, std::string value);
};
constexpr TKey kKeys[] = {
    {"-host:", SetHost},
    {"-port:", SetPort},
    {"-timeout:", SetTimeout},
    {"-domain:", SetDomain},
    {"-tls:", SetTls},
    {"-cafile:", SetCaFile},
    {"-certdays:", SetCertDays},
    {"-user:", SetUser},
    {"-password:", SetPassword},
    {"-passfile:", SetPassFile},
    {"-auth:", SetAuth},
    {"-srv:", SetSrv},
    {"-s2s:", SetS2s},
    {"-ip:", SetIp},
    {"-deadline:", SetDeadline},
    {"-from:", SetFrom},
};

// Keys that take the whole rest of an argument that begins with them, so
// that a password may hold any text, other keys' names included.
constexpr TKey kWholeKeys[] = {
    {"-password:", SetPassword},
    {"-passfile:", SetPassFile},
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
