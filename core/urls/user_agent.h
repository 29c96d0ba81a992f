#pragma once

// How the program names itself to servers and proxies; many refuse a request without a name.
inline constexpr char UserAgent[] = "Brenloft/1";
