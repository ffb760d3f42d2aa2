#pragma once
// The front end's state for one run of the program: what the command line
// asked for and what the run came to. The main sequence owns one instance
// and hands it to each step.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What a run came to. Its number is the process exit code, which the
// monitoring host reads alongside the result line.
enum TVerdict : std::int32_t {
  verdictAlive = 0,    // the server answered
  verdictBad = 1,      // the server did not answer as required
  verdictUnknown = 2,  // no check was possible
};

struct TFrontEnd {
  std::string Host;          // server host name, IPv4 or IPv6 address
  uint16_t Port = 0;         // 0: no usable port was given
  int32_t Timeout = 0;       // ms; only a value above 0 replaces the probe's own
  std::string Domain;        // XMPP domain named in the stream header; empty: the host
  bool ShowUsage = false;    // write the banner and the usage text first
  TVerdict Verdict = verdictAlive;  // what the run came to
  std::string VerdictText;   // the reason written after verdictBad and verdictUnknown
  int64_t ElapsedMs = 0;     // duration of the check, for verdictAlive

  // The TLS keys, each as given (absent when not given at all).
  std::optional<std::string> Tls;       // "starttls" or "direct"; anything else is reported
  std::optional<std::string> CaFile;    // PEM file of the CAs to trust
  std::optional<std::string> CertDays;  // whole days; only a value above 0 asks for days left

  // The login keys, each as given (absent when not given at all). Password
  // is also what the result line must never show.
  std::optional<std::string> User;      // "<localpart>" or "<localpart>@<domain>"
  std::optional<std::string> Password;
  std::optional<std::string> PassFile;  // the file whose first line is the password
  std::optional<std::string> Auth;      // the mechanism the login must use
  // Texts the result line never shows (the password, as given and as sent).
  std::vector<std::string> Secrets;
  // Where the server is and how long the check may take, each as given;
  // the check run reads them strictly.
  std::optional<std::string> Srv;       // "yes": Host is a domain with SRV records
  std::optional<std::string> S2s;       // "yes": the server-to-server port
  std::optional<std::string> Ip;        // "4" or "6": only that address family
  std::optional<std::string> Deadline;  // ms for the whole check, above 0
  std::optional<std::string> From;      // the domain a server-to-server stream comes from
};
