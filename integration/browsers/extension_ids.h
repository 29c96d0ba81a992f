#pragma once

// Who may talk to the launcher through native messaging: the Brenloft extension, as each
// browser family knows it.
namespace BrowserExtension {

// The name browsers know the launcher's host by. Browsers accept only lower-case letters,
// digits, dots and underscores here, so it cannot be the program's own name.
inline constexpr char NativeHostName[] = "velmoraproject.velmora_launcher";

// Chromium-family browsers derive an extension's id from its public key: the extension's
// manifest carries this key (base64 of the DER public key) so that the id stays the same
// however it is installed.
inline constexpr char ChromiumKey[] =
    "MIIBIjANBgkqhkiG9w0BAQEFAAOCAQ8AMIIBCgKCAQEAwvBt7+t9TWoCQW6Yc95aYkU4ir0xiX3gVeUyY5LCofCYiM/"
    "psc/eF8LLMBPv3fUbQ9lRatMVX0vZBIXs6ybBsterW3p+7mRIZL7RSbRNxQEf/"
    "lSjGtsHS4+J5fz9xHZPMqkCZfd9VD0g/7DhqvSBOtxz7QsZLEMqRg1IK3dC2PeFoC3lFiy94wq/"
    "7JZxKX1saaLBtWOV9NRSGjm65wOYbhpr8BdaYdypCLsDa82ns8fcVlL6Cdb6ZkMTWv2a82XHDM2ZXaWQ/"
    "OiPTINkxShbbZmsvno/xatVUGg4l0oxh2W5fgrEV0tPuXaEWwPQJabkA09t+9UuIiAVj9H8lO9WUQIDAQAB";
inline constexpr char ChromiumId[] = "ceejbabjkdnpccnjndkbcdkbdnlklblk";

// Firefox, LibreWolf and SeaMonkey know it by the id its manifest declares.
inline constexpr char GeckoId[] = "brenloft@velmora.invalid";

// The packaged extension Firefox-family browsers are started with to install it, looked up
// in the application folder, then in the data folder installed beside the program.
inline constexpr char PackageFileName[] = "Brenloft.xpi";

}  // namespace BrowserExtension
