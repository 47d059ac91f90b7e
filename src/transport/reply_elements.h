#pragma once

#include <cstdint>

// Where each reply holds its values: element positions as clsElement::Item counts them, the
// head "VEXMSG" being 1 and the version 2.
namespace vexcomm::transport::element {

inline constexpr int32_t kHead = 1;
inline constexpr int32_t kVersion = 2;
inline constexpr int32_t kCode = 3;  // the reply's code, e.g. "AINEW"

// AIERR, the server's error, and AIRMG, its notice.
inline constexpr int32_t kErrorNumber = 4;
inline constexpr int32_t kErrorText = 5;

// AINEW: how many files wait.
inline constexpr int32_t kNewCount = 4;

// AIGET: one file, or the order to delete one.
inline constexpr int32_t kFileDateiNr = 4;  // its place in the server's series
inline constexpr int32_t kFileName = 5;
inline constexpr int32_t kFileTyp = 6;  // "DELETE" for the order
inline constexpr int32_t kFileVonDatum = 7;
inline constexpr int32_t kFileBisDatum = 8;
inline constexpr int32_t kFileAnzeigeDauer = 9;
inline constexpr int32_t kFileWichtigkeit = 10;
inline constexpr int32_t kFileTitel = 11;
inline constexpr int32_t kFileUrl = 12;
inline constexpr int32_t kFileContent = 13;  // length-prefixed
inline constexpr int32_t kFileNummer = 14;   // the number the host knows it by; 0: kFileDateiNr

// AIWDT: the date of the newest quotes.
inline constexpr int32_t kQuoteDate = 4;

// AIWPK: one stock's quotes.
inline constexpr int32_t kStockWkn = 4;
inline constexpr int32_t kStockIsin = 5;
inline constexpr int32_t kStockName = 6;
inline constexpr int32_t kStockQuotes = 7;  // "date*price" entries joined by "#"

// AITGA and AIFGA: the offers.
inline constexpr int32_t kOffersDate = 4;
inline constexpr int32_t kOffersList = 7;

}  // namespace vexcomm::transport::element
