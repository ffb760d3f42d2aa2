// The SRV look-up through Windows' DNS client (DnsQuery_A). A missing name
// and a name without SRV records both mean "no record": Wine reports the
// second as the first.

#include <winsock2.h>
#include <windows.h>
#include <windns.h>

#include "net/srv.h"
#include "net/system_error.h"

namespace {

// The failures every platform words alike; others keep the system's text.
struct TStatusFailure {
  DNS_STATUS Status;
  TSrvFailure Failure;
};
constexpr TStatusFailure kFailures[] = {
    {DNS_ERROR_RCODE_SERVER_FAILURE, TSrvFailure::NoAnswer},
    {ERROR_TIMEOUT, TSrvFailure::NoAnswer},
    {DNS_ERROR_RCODE_REFUSED, TSrvFailure::Refused},
    {DNS_ERROR_RCODE_NOT_IMPLEMENTED, TSrvFailure::Refused},
    {DNS_ERROR_BAD_PACKET, TSrvFailure::Unreadable},
    {DNS_ERROR_RCODE_FORMAT_ERROR, TSrvFailure::Unreadable},
};

std::string FailureText(DNS_STATUS Status) {
  for (const TStatusFailure& entry : kFailures)
    if (entry.Status == Status) return SrvFailureText(entry.Failure);
  return SystemErrorText(static_cast<std::int32_t>(Status));
}

}  // namespace

TSrvAnswer LookUpSrv(const std::string& Name) {
  PDNS_RECORDA results = nullptr;
  const DNS_STATUS status =
      DnsQuery_A(Name.c_str(), DNS_TYPE_SRV, DNS_QUERY_STANDARD, nullptr, reinterpret_cast<PDNS_RECORD*>(&results),
                 nullptr);
  TSrvAnswer answer;
  if (status == DNS_ERROR_RCODE_NAME_ERROR || status == DNS_INFO_NO_RECORDS) return answer;
  if (status != 0) {
    answer.Kind = TSrvAnswer::TKind::Failed;
    answer.Reason = FailureText(status);
    return answer;
  }
  for (PDNS_RECORDA record = results; record != nullptr; record = record->pNext) {
    if (record->wType != DNS_TYPE_SRV) continue;
    TSrvRecord srv;
    srv.Priority = record->Data.SRV.wPriority;
    srv.Weight = record->Data.SRV.wWeight;
    srv.Port = record->Data.SRV.wPort;
    srv.Target = record->Data.SRV.pNameTarget != nullptr ? record->Data.SRV.pNameTarget : "";
    if (srv.Target.empty()) srv.Target = ".";
    if (srv.Target.size() > 1 && srv.Target.back() == '.') srv.Target.pop_back();
    answer.Records.push_back(srv);
  }
  DnsRecordListFree(reinterpret_cast<PDNS_RECORD>(results), DnsFreeRecordList);
  answer.Kind = answer.Records.empty() ? TSrvAnswer::TKind::NoRecord : TSrvAnswer::TKind::Records;
  return answer;
}
