#include "LabAddress.h"

#include <boost/url/url.hpp>

#include "Base64Url.h"

namespace quav {

std::string keyAddress(const boost::urls::url_view& labAddress, std::string_view keyBytes) {
  boost::urls::url address(labAddress);
  // The marker and the base64url alphabet are all allowed in a fragment: nothing is escaped.
  address.set_fragment("quav-key=" + base64url(keyBytes));
  return std::string(address.buffer());
}

std::string guideAddress(const boost::urls::url_view& labAddress) {
  boost::urls::url address(labAddress);
  std::string path(address.encoded_path());
  if (path.empty() || path.back() != '/') path += '/';
  path += "CONNECT.html";
  address.set_encoded_path(path);
  return std::string(address.buffer());
}

}  // namespace quav
