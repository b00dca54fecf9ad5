// The two addresses built from the lab address: the key address, which carries a key file to
// the lab page in its fragment, and the guide address of the connection guide page.
#pragma once

#include <boost/url/url_view.hpp>
#include <string>
#include <string_view>

namespace quav {

// The lab address with its fragment set to "quav-key=" and the key's base64url text; scheme,
// user part, host, port, path and query stay as announced.
std::string keyAddress(const boost::urls::url_view& labAddress, std::string_view keyBytes);

// The lab address with one more path segment, "CONNECT.html"; query and fragment stay.
std::string guideAddress(const boost::urls::url_view& labAddress);

}  // namespace quav
