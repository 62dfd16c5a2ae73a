#pragma once

// Texts that travel between the client and this server: header names, JSON keys that several
// handlers share, and the fixed paths of the service.

namespace lf::dev::wire {

inline constexpr char kHeaderUser[] = "X-Lanternfish-User";
inline constexpr char kHeaderVersion[] = "X-Lanternfish-Version";
inline constexpr char kHeaderParams[] = "X-Lanternfish-Params";
inline constexpr char kProtocolVersion[] = "0";

inline constexpr char kError[] = "Error";

// User header objects.
inline constexpr char kEmail[] = "email";
inline constexpr char kClientId[] = "client_id";
inline constexpr char kUserToken[] = "user_token";
inline constexpr char kPassword[] = "password";
inline constexpr char kClientInfo[] = "client_info";

// Resource paths the root document and the site records point at.
inline constexpr char kBundlesPath[] = "/api/user/bundles";
inline constexpr char kServicesPath[] = "/api/user/services";
inline constexpr char kSitesPath[] = "/sites/";
inline constexpr char kSiteIconsPath[] = "/images/sites/";
inline constexpr char kDatedIconsPath[] = "icons/dated/";
inline constexpr char kTermsPath[] = "/terms/Lanternfish.pdf";
inline constexpr char kDownloadsPath[] = "/downloads/";
inline constexpr char kPhotosPath[] = "/photos/";

// Web flows end by sending the web view to the application's own URL scheme.
inline constexpr char kCallbackPrefix[] = "lanternfish://callback";
inline constexpr char kAccessDenied[] = "access_denied";

// Photo kinds of an upload.
inline constexpr char kTypeScreen[] = "screen";
inline constexpr char kTypeFull[] = "full";
inline constexpr char kOriginReshare[] = "reshare";

} // namespace lf::dev::wire
