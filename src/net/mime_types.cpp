#include "net/mime_types.h"

#include <map>
#include <utility>

namespace qp {
namespace {

struct MimeAssignment {
  const char* extension;
  const char* type;
};

// The table in its fill order. Thirteen extensions are assigned twice and the
// later assignment stands, so that, for instance, "jpg" ends as
// "application/x-jpg". Uploads with these types are what the servers scripts
// talk to have always received; keep the order.
constexpr MimeAssignment kAssignments[] = {
    {"*", "application/octet-stream"}, {"001", "application/x-001"}, {"301", "application/x-301"},
    {"323", "text/h323"}, {"906", "application/x-906"}, {"907", "application/x-907"},
    {"a11", "application/x-a11"}, {"acp", "audio/x-mei-aac"}, {"ai", "application/postscript"},
    {"aif", "audio/x-aiff"}, {"aifc", "audio/x-aiff"}, {"aiff", "audio/x-aiff"},
    {"anv", "application/x-anv"}, {"asa", "text/asa"}, {"asf", "video/x-ms-asf"},
    {"asp", "text/asp"}, {"asx", "video/x-ms-asf"}, {"au", "audio/basic"},
    {"avi", "video/x-msvideo"}, {"awf", "application/vnd.adobe.workflow"}, {"biz", "text/xml"},
    {"bmp", "application/x-bmp"}, {"bot", "application/x-bot"}, {"c4t", "application/x-c4t"},
    {"c90", "application/x-c90"}, {"cal", "application/x-cals"},
    {"cat", "application/vnd.ms-pki.seccat"}, {"cdf", "application/x-cdf"},
    {"cdr", "application/x-cdr"}, {"cel", "application/x-cel"}, {"cer", "application/pkix-cert"},
    {"cg4", "application/x-g4"}, {"cgm", "image/cgm"}, {"cit", "application/x-cit"},
    {"class", "application/java-vm"}, {"cml", "text/xml"}, {"cmp", "application/x-cmp"},
    {"cmx", "application/x-cmx"}, {"cot", "application/x-cot"}, {"crl", "application/pkix-crl"},
    {"crt", "application/x-x509-ca-cert"}, {"csi", "application/x-csi"}, {"css", "text/css"},
    {"cut", "application/x-cut"}, {"dbf", "application/vnd.dbf"}, {"dbm", "application/x-dbm"},
    {"dbx", "application/x-dbx"}, {"dcd", "text/xml"}, {"dcx", "application/x-dcx"},
    {"der", "application/x-x509-ca-cert"}, {"dgn", "application/x-dgn"},
    {"dib", "application/x-dib"}, {"dll", "application/x-msdownload"},
    {"doc", "application/msword"}, {"dot", "application/msword"}, {"drw", "application/x-drw"},
    {"dtd", "text/xml"}, {"dwf", "model/vnd.dwf"}, {"dwg", "image/vnd.dwg"},
    {"dxb", "application/x-dxb"}, {"dxf", "image/vnd.dxf"}, {"edn", "application/vnd.adobe.edn"},
    {"emf", "image/emf"}, {"eml", "message/rfc822"}, {"ent", "text/xml"},
    {"epi", "application/x-epi"}, {"eps", "application/postscript"}, {"etd", "application/x-etd"},
    {"exe", "application/x-msdownload"}, {"fax", "application/x-fax"}, {"fdf", "application/fdf"},
    {"fif", "application/fractals"}, {"fo", "text/xml"}, {"frm", "application/x-frm"},
    {"g4", "application/x-g4"}, {"gbr", "application/x-gbr"}, {"gif", "image/gif"},
    {"gl2", "application/x-gl2"}, {"gp4", "application/x-gp4"}, {"hgl", "text/vnd.hgl"},
    {"hmr", "application/x-hmr"}, {"hpg", "application/x-hpgl"}, {"hpl", "application/x-hpl"},
    {"hqx", "application/mac-binhex40"}, {"hrf", "application/x-hrf"}, {"hta", "application/hta"},
    {"htc", "text/x-component"}, {"htm", "text/html"}, {"html", "text/html"},
    {"htt", "text/webviewhtml"}, {"htx", "text/html"}, {"icb", "application/x-icb"},
    {"ico", "image/vnd.microsoft.icon"}, {"iff", "application/x-iff"}, {"ig4", "application/x-g4"},
    {"igs", "model/iges"}, {"iii", "application/x-iphone"}, {"img", "application/x-img"},
    {"ins", "application/x-internet-signup"}, {"isp", "application/x-internet-signup"},
    {"IVF", "video/x-ivf"}, {"java", "text/x-java"}, {"jfif", "image/jpeg"}, {"jpe", "image/jpeg"},
    {"jpeg", "image/jpeg"}, {"jpg", "image/jpeg"}, {"js", "application/x-javascript"},
    {"jsp", "text/html"}, {"la1", "audio/x-liquid-file"}, {"lar", "application/x-laplayer-reg"},
    {"latex", "application/x-latex"}, {"lavs", "audio/x-liquid-secure"},
    {"lbm", "application/x-lbm"}, {"lmsff", "audio/x-la-lms"}, {"ls", "application/x-javascript"},
    {"ltr", "application/x-ltr"}, {"m1v", "video/mpeg"}, {"m2v", "video/mpeg"},
    {"m3u", "audio/mpegurl"}, {"m4e", "video/mpeg4"}, {"mac", "application/x-mac"},
    {"man", "application/x-troff-man"}, {"mdb", "application/msaccess"},
    {"mfp", "application/x-shockwave-flash"}, {"mht", "message/rfc822"},
    {"mhtml", "message/rfc822"}, {"mi", "application/x-mi"}, {"mid", "audio/midi"},
    {"midi", "audio/midi"}, {"mil", "application/x-mil"}, {"mnd", "audio/x-musicnet-download"},
    {"mns", "audio/x-musicnet-stream"}, {"mocha", "application/x-javascript"},
    {"movie", "video/x-sgi-movie"}, {"mp1", "audio/mpeg"}, {"mp2", "audio/mpeg"},
    {"mp2v", "video/mpeg"}, {"mp3", "audio/mp3"}, {"mp4", "video/mp4"}, {"mpa", "video/mpeg"},
    {"mpd", "application/vnd.ms-project"}, {"mpe", "video/mpeg"}, {"mpeg", "video/mpeg"},
    {"mpg", "video/mpeg"}, {"mpga", "audio/mpeg"}, {"mpp", "application/vnd.ms-project"},
    {"mps", "video/x-mpeg"}, {"mpt", "application/vnd.ms-project"}, {"mpv", "video/mpeg"},
    {"mpv2", "video/mpeg"}, {"mpw", "application/vnd.ms-project"},
    {"mpx", "application/vnd.ms-project"}, {"mxp", "application/x-mmxp"},
    {"net", "application/x-net"}, {"nrf", "application/x-nrf"}, {"nws", "message/rfc822"},
    {"odc", "text/x-ms-odc"}, {"out", "application/x-out"}, {"p10", "application/pkcs10"},
    {"p12", "application/pkcs12"}, {"p7b", "application/x-pkcs7-certificates"},
    {"p7c", "application/pkcs7-mime"}, {"p7m", "application/pkcs7-mime"},
    {"p7r", "application/x-pkcs7-certreqresp"}, {"p7s", "application/pkcs7-signature"},
    {"pc5", "application/x-pc5"}, {"pci", "application/x-pci"}, {"pcl", "application/vnd.hp-pcl"},
    {"pcx", "image/vnd.zbrush.pcx"}, {"pdf", "application/x-pdf"},
    {"pdx", "application/vnd.adobe.pdx"}, {"pfx", "application/pkcs12"},
    {"pgl", "application/x-pgl"}, {"pic", "application/x-pic"},
    {"pko", "application/vnd.ms-pki.pko"}, {"pl", "text/x-perl"}, {"plg", "text/html"},
    {"pls", "audio/x-scpls"}, {"plt", "application/x-plt"}, {"png", "image/png"},
    {"pot", "application/vnd.ms-powerpoint"}, {"ppa", "application/vnd.ms-powerpoint"},
    {"ppm", "image/x-portable-pixmap"}, {"pps", "application/vnd.ms-powerpoint"},
    {"ppt", "application/vnd.ms-powerpoint"}, {"pr", "application/x-pr"},
    {"prf", "application/pics-rules"}, {"prn", "application/x-prn"}, {"prt", "application/x-prt"},
    {"ps", "application/postscript"}, {"ptn", "application/x-ptn"},
    {"pwz", "application/vnd.ms-powerpoint"}, {"r3t", "text/vnd.rn-realtext3d"},
    {"ra", "audio/x-pn-realaudio"}, {"ram", "audio/x-pn-realaudio"}, {"ras", "image/x-cmu-raster"},
    {"rat", "application/rat-file"}, {"rec", "application/vnd.rn-recording"},
    {"red", "application/x-red"}, {"rgb", "image/x-rgb"},
    {"rjs", "application/vnd.rn-realsystem-rjs"}, {"rjt", "application/vnd.rn-realsystem-rjt"},
    {"rlc", "application/x-rlc"}, {"rle", "application/x-rle"},
    {"rm", "application/vnd.rn-realmedia"}, {"rmf", "application/vnd.adobe.rmf"},
    {"rmi", "audio/mid"}, {"rmj", "application/vnd.rn-realsystem-rmj"},
    {"rmm", "audio/x-pn-realaudio"}, {"rmp", "application/vnd.rn-rn_music_package"},
    {"rms", "application/vnd.rn-realmedia-secure"}, {"rmvb", "application/vnd.rn-realmedia-vbr"},
    {"rmx", "application/vnd.rn-realsystem-rmx"}, {"rnx", "application/vnd.rn-realplayer"},
    {"rp", "image/vnd.rn-realpix"}, {"rpm", "audio/x-pn-realaudio-plugin"},
    {"rsml", "application/vnd.rn-rsml"}, {"rt", "text/vnd.rn-realtext"},
    {"rtf", "application/rtf"}, {"rv", "video/vnd.rn-realvideo"},
    {"sam", "application/vnd.lotus-wordpro"}, {"sat", "application/x-sat"},
    {"sdp", "application/sdp"}, {"sdw", "application/vnd.stardivision.writer"},
    {"sit", "application/x-stuffit"}, {"slb", "application/x-slb"}, {"sld", "application/x-sld"},
    {"slk", "application/x-slk"}, {"smi", "application/smil"}, {"smil", "application/smil"},
    {"smk", "application/x-smk"}, {"snd", "audio/basic"}, {"sol", "text/plain"},
    {"sor", "text/plain"}, {"spc", "application/x-pkcs7-certificates"},
    {"spl", "application/futuresplash"}, {"ssm", "application/streamingmedia"},
    {"sst", "application/vnd.ms-pki.certstore"}, {"stl", "application/vnd.ms-pki.stl"},
    {"stm", "text/html"}, {"sty", "application/x-sty"}, {"swf", "application/x-shockwave-flash"},
    {"tdf", "application/x-tdf"}, {"tg4", "application/x-tg4"}, {"tga", "application/x-tga"},
    {"tif", "image/tiff"}, {"tiff", "image/tiff"}, {"top", "application/x-top"},
    {"torrent", "application/x-bittorrent"}, {"txt", "text/plain"}, {"uin", "application/x-icq"},
    {"uls", "text/iuls"}, {"vcf", "text/vcard"}, {"vda", "application/x-vda"},
    {"vpg", "application/x-vpg"}, {"vsd", "application/vnd.visio"},
    {"vst", "application/vnd.visio"}, {"vsx", "application/vnd.visio"}, {"vxml", "text/xml"},
    {"wav", "audio/x-wav"}, {"wax", "audio/x-ms-wax"}, {"wb1", "application/x-wb1"},
    {"wb2", "application/x-wb2"}, {"wb3", "application/x-wb3"}, {"wbmp", "image/vnd.wap.wbmp"},
    {"wiz", "application/msword"}, {"wk3", "application/vnd.lotus-1-2-3"},
    {"wk4", "application/vnd.lotus-1-2-3"}, {"wkq", "application/x-wkq"},
    {"wks", "application/vnd.ms-works"}, {"wm", "video/x-ms-wm"}, {"wma", "audio/x-ms-wma"},
    {"wmd", "application/x-ms-wmd"}, {"wmf", "image/wmf"}, {"wml", "text/vnd.wap.wml"},
    {"wmv", "video/x-ms-wmv"}, {"wmx", "video/x-ms-wmx"}, {"wmz", "application/x-ms-wmz"},
    {"wp6", "application/x-wp6"}, {"wpd", "application/vnd.wordperfect"},
    {"wpg", "application/x-wpg"}, {"wpl", "application/vnd.ms-wpl"}, {"wq1", "application/x-wq1"},
    {"wr1", "application/x-wr1"}, {"wri", "application/x-wri"}, {"wrk", "application/x-wrk"},
    {"ws", "application/x-ws"}, {"ws2", "application/x-ws"}, {"wsc", "text/scriptlet"},
    {"wvx", "video/x-ms-wvx"}, {"x_b", "model/vnd.parasolid.transmit.binary"},
    {"x_t", "model/vnd.parasolid.transmit.text"}, {"xdp", "application/vnd.adobe.xdp+xml"},
    {"xfd", "application/vnd.xfdl"}, {"xfdf", "application/vnd.adobe.xfdf"},
    {"xhtml", "text/html"}, {"xls", "application/vnd.ms-excel"},
    {"xlw", "application/vnd.ms-excel"}, {"xml", "text/xml"}, {"xpl", "audio/scpls"},
    {"xq", "text/xml"}, {"xwd", "image/x-xwindowdump"},
    // A path ending in "." has the empty extension.
    {"", "application/x-"}, {"dwf", "application/x-dwf"}, {"eps", "application/x-eps"},
    {"ico", "application/x-ico"}, {"jpe", "application/x-jpe"}, {"jpg", "application/x-jpg"},
    {"mdb", "application/x-mdb"}, {"pdf", "application/pdf"}, {"png", "application/x-png"},
    {"ppt", "application/x-ppt"}, {"ps", "application/x-ps"}, {"rtf", "application/x-rtf"},
    {"tif", "application/x-tif"}, {"xls", "application/x-xls"},
};

using MimeTable = std::map<std::string, std::string, std::less<>>;

const MimeTable& Table() {
  static const MimeTable table = [] {
    MimeTable map;
    for (const MimeAssignment& row : kAssignments) map[row.extension] = row.type;
    return map;
  }();
  return table;
}

}  // namespace

std::string LookupMimeType(std::string_view extension) {
  const auto& table = Table();
  auto it = table.find(extension);
  return it == table.end() ? std::string() : it->second;
}

size_t MimeTableSize() { return Table().size(); }

size_t MimeAssignmentCount() { return std::size(kAssignments); }

}  // namespace qp
