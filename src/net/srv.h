#pragma once
// Where a domain's XMPP service is: its DNS SRV records (RFC 2782), asked of
// the system's resolver (one file per platform beside this header), and one
// pure function that puts them in the order they are to be tried and decides
// whether the domain's own addresses serve as the fallback.

#include <cstdint>
#include <random>
#include <string>
#include <vector>

struct TSrvRecord {
  std::uint16_t Priority = 0;
  std::uint16_t Weight = 0;
  std::uint16_t Port = 0;
  std::string Target;  // without the trailing dot; "." alone for "no service"
};

// What the resolver said about one SRV name.
struct TSrvAnswer {
  enum class TKind {
    Records,   // Records holds what the answer carried
    NoRecord,  // the name or the record type does not exist
    Failed,    // the look-up failed (server failure, time-out); Reason says how
  };
  TKind Kind = TKind::NoRecord;
  std::vector<TSrvRecord> Records;
  std::string Reason;
};

// Why a look-up failed, in the same words on every platform; the
// resolver's own reasons beyond these keep the system's text.
enum class TSrvFailure { NoAnswer, Refused, Unreadable, NoResolver };
const char* SrvFailureText(TSrvFailure Failure);

// Asks the system's resolver for the SRV records of Name
// ("_xmpp-client._tcp.example.org"). Never raises for an answer, only when
// the resolver itself cannot be used (then as a failed look-up).
TSrvAnswer LookUpSrv(const std::string& Name);

// What to connect to, in order.
struct TSrvPlan {
  enum class TKind {
    Targets,     // try Targets in order
    Fallback,    // no record: the domain itself on the fallback port
    NotOffered,  // a lone "." record: the service is decidedly not offered
    Failed,      // the look-up failed; Reason says how
  };
  TKind Kind = TKind::Fallback;
  std::vector<TSrvRecord> Targets;
  std::string Reason;
};

// Orders the records by priority, lowest first, and within one priority by
// RFC 2782's weighted random choice, drawing from Random.
TSrvPlan PlanSrv(const TSrvAnswer& Answer, std::mt19937& Random);
