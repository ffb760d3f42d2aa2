// The SRV look-up through the system's resolver: res_nquery (in the C
// library) asks the name servers of resolv.conf, with its time-outs and
// retries, and ns_initparse and ns_parserr of libresolv read the answer.
//
// libresolv is loaded when a look-up is made, not when the program starts:
// loading and relocating it costs a plain check about a tenth of all its
// instructions, and most checks never look up an SRV record.

#include <arpa/nameser.h>
#include <netdb.h>
#include <netinet/in.h>
#include <resolv.h>

#include <cstring>

#include "base/loaded_library.h"
#include "net/srv.h"

namespace {

// Why a look-up failed, by the resolver's h_errno (TRY_AGAIN: a server
// failure or no answer in time; NO_RECOVERY: refused, or not implemented).
TSrvFailure FailureOf(int Number) {
  if (Number == TRY_AGAIN) return TSrvFailure::NoAnswer;
  if (Number == NO_RECOVERY) return TSrvFailure::Refused;
  return TSrvFailure::NoResolver;
}

TSrvAnswer Failed(TSrvFailure Failure) {
  TSrvAnswer answer;
  answer.Kind = TSrvAnswer::TKind::Failed;
  answer.Reason = SrvFailureText(Failure);
  return answer;
}

// The answer's parsers from libresolv.
struct TParsers {
  TOLVANE_CALL_POINTER(ns_initparse)
  TOLVANE_CALL_POINTER(ns_parserr)
  template <typename F>
  void Resolve(F&& Call) {
    TOLVANE_RESOLVE_CALL(ns_initparse)
    TOLVANE_RESOLVE_CALL(ns_parserr)
  }
};

// The SRV records of a whole answer message; false when it cannot be read.
bool ReadRecords(const TParsers& Parse, const unsigned char* Message, int Length, std::vector<TSrvRecord>& Records) {
  ns_msg handle;
  if (Parse.ns_initparse(Message, Length, &handle) != 0) return false;
  const int count = ns_msg_count(handle, ns_s_an);
  for (int i = 0; i < count; ++i) {
    ns_rr rr;
    if (Parse.ns_parserr(&handle, ns_s_an, i, &rr) != 0) return false;
    if (ns_rr_type(rr) != ns_t_srv || ns_rr_class(rr) != ns_c_in) continue;
    if (ns_rr_rdlen(rr) < 7) return false;
    const unsigned char* data = ns_rr_rdata(rr);
    TSrvRecord record;
    record.Priority = static_cast<std::uint16_t>(data[0] << 8 | data[1]);
    record.Weight = static_cast<std::uint16_t>(data[2] << 8 | data[3]);
    record.Port = static_cast<std::uint16_t>(data[4] << 8 | data[5]);
    char target[NS_MAXDNAME];
    if (dn_expand(ns_msg_base(handle), ns_msg_end(handle), data + 6, target, sizeof target) < 0) return false;
    record.Target = target;
    if (record.Target.empty()) record.Target = ".";
    if (record.Target.size() > 1 && record.Target.back() == '.') record.Target.pop_back();
    Records.push_back(record);
  }
  return true;
}

}  // namespace

TSrvAnswer LookUpSrv(const std::string& Name) {
  TLoadFailure missing;
  const TParsers* parse = LoadCalls<TParsers>("libresolv.so.2", missing);
  if (!parse) return Failed(TSrvFailure::NoResolver);
  struct __res_state state;
  std::memset(&state, 0, sizeof state);
  if (res_ninit(&state) != 0) return Failed(TSrvFailure::NoResolver);
  unsigned char message[NS_MAXMSG];
  const int length = res_nquery(&state, Name.c_str(), ns_c_in, ns_t_srv, message, sizeof message);
  const int number = state.res_h_errno;
  TSrvAnswer answer;
  if (length < 0) {
    res_nclose(&state);
    // The name, or an SRV record of it, does not exist.
    if (number == HOST_NOT_FOUND || number == NO_DATA) return answer;
    return Failed(FailureOf(number));
  }
  const bool read = ReadRecords(*parse, message, length, answer.Records);
  res_nclose(&state);
  if (!read) return Failed(TSrvFailure::Unreadable);
  answer.Kind = answer.Records.empty() ? TSrvAnswer::TKind::NoRecord : TSrvAnswer::TKind::Records;
  return answer;
}
