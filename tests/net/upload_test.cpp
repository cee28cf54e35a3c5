#include <gtest/gtest.h>

#include <sstream>

#include "net/http_session.h"
#include "net/loopback_server.h"
#include "net/mime_types.h"
#include "net/multipart.h"

namespace qp {
namespace {

TEST(MimeTable, HoldsExactlyTheFixedKeys) {
  EXPECT_EQ(MimeTableSize(), 303u);
  EXPECT_EQ(MimeAssignmentCount(), 316u);
}

TEST(MimeTable, LooksUpFinalValues) {
  const std::pair<const char*, const char*> cases[] = {
      {"*", "application/octet-stream"},
      {"jpg", "application/x-jpg"},
      {"jpeg", "image/jpeg"},
      {"gif", "image/gif"},
      {"png", "application/x-png"},
      {"bmp", "application/x-bmp"},
      {"tif", "application/x-tif"},
      {"tiff", "image/tiff"},
      {"txt", "text/plain"},
      {"htm", "text/html"}, {"html", "text/html"}, {"xhtml", "text/html"}, {"jsp", "text/html"},
      {"xml", "text/xml"}, {"biz", "text/xml"}, {"cml", "text/xml"}, {"dcd", "text/xml"},
      {"dtd", "text/xml"}, {"ent", "text/xml"}, {"fo", "text/xml"}, {"vxml", "text/xml"},
      {"xq", "text/xml"},
      {"css", "text/css"},
      {"js", "application/x-javascript"},
      {"doc", "application/msword"},
      {"xls", "application/x-xls"},
      {"ppt", "application/x-ppt"},
      {"pdf", "application/pdf"},
      {"mp3", "audio/mp3"},
      {"swf", "application/x-shockwave-flash"},
      {"exe", "application/x-msdownload"}, {"dll", "application/x-msdownload"},
      {"torrent", "application/x-bittorrent"},
      {"", "application/x-"},
      {"IVF", "video/x-ivf"},
      {"ivf", ""},
      {"zip", ""},
      {"JPG", ""},  // callers lower-case first
      {"001", "application/x-001"},
      {"xwd", "image/x-xwindowdump"},
  };
  for (const auto& [extension, type] : cases) {
    EXPECT_EQ(LookupMimeType(extension), type) << extension;
  }
}

TEST(MimeTable, EveryListedExtensionHasAType) {
  const char* listed =
      "001 301 323 906 907 a11 acp ai aif aifc aiff anv asa asf asp asx au avi awf bot c4t c90 "
      "cal cat cdf cdr cel cer cg4 cgm cit class cmp cmx cot crl crt csi cut dbf dbm dbx dcx der "
      "dgn dib dot drw dwf dwg dxb dxf edn emf eml epi eps etd fax fdf fif frm g4 gbr gl2 gp4 hgl "
      "hmr hpg hpl hqx hrf hta htc htt htx icb ico iff ig4 igs iii img ins isp java jfif jpe la1 "
      "lar latex lavs lbm lmsff ls ltr m1v m2v m3u m4e mac man mdb mfp mht mhtml mi mid midi mil "
      "mnd mns mocha movie mp1 mp2 mp2v mp4 mpa mpd mpe mpeg mpg mpga mpp mps mpt mpv mpv2 mpw "
      "mpx mxp net nrf nws odc out p10 p12 p7b p7c p7m p7r p7s pc5 pci pcl pcx pdx pfx pgl pic "
      "pko pl plg pls plt pot ppa ppm pps pr prf prn prt ps ptn pwz r3t ra ram ras rat rec red "
      "rgb rjs rjt rlc rle rm rmf rmi rmj rmm rmp rms rmvb rmx rnx rp rpm rsml rt rtf rv sam sat "
      "sdp sdw sit slb sld slk smi smil smk snd sol sor spc spl ssm sst stl stm sty tdf tg4 tga "
      "top uin uls vcf vda vpg vsd vst vsx wav wax wb1 wb2 wb3 wbmp wiz wk3 wk4 wkq wks wm wma "
      "wmd wmf wml wmv wmx wmz wp6 wpd wpg wpl wq1 wr1 wri wrk ws ws2 wsc wvx x_b x_t xdp xfd "
      "xfdf xlw xpl xwd";
  std::istringstream words(listed);
  int count = 0;
  for (std::string word; words >> word; ++count) EXPECT_NE(LookupMimeType(word), "") << word;
  EXPECT_EQ(count, 268);
}

class UploadTest : public ::testing::Test {
 protected:
  testing::TempDir dir;
  testing::LoopbackServer server{"HTTP/1.0 200 OK\r\n\r\nok"};
  HttpSession session;

  // The body after the header block of the recorded request.
  std::string SentBody(size_t index) {
    std::string request = server.Request(index);
    size_t end = request.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : request.substr(end + 4);
  }
  size_t DeclaredLength(size_t index) {
    std::string request = server.Request(index);
    size_t field = request.find("Content-Length: ");
    return field == std::string::npos ? 0 : std::stoul(request.substr(field + 16));
  }
};

TEST_F(UploadTest, BoundaryIs27HyphensAndTenHexDigits) {
  session.BeginUpload();
  const std::string& b = session.boundary;
  ASSERT_EQ(b.size(), 37u);
  EXPECT_EQ(b.substr(0, 27), std::string(27, '-'));
  EXPECT_EQ(b.find_first_not_of("0123456789abcdef", 27), std::string::npos) << b;
}

TEST_F(UploadTest, TextPartOnly) {
  session.BeginUpload();
  session.AddUploadText("title", "hello world");
  const std::string b = session.boundary;
  ASSERT_TRUE(session.Request(server.Url("/up"), true));
  std::string request = server.Request(0);
  std::string expectedBody = "--" + b +
                             "\r\nContent-Disposition: form-data; name=\"title\"\r\n\r\n"
                             "hello world\r\n--" + b + "--\r\n";
  EXPECT_EQ(SentBody(0), expectedBody + "\r\n");
  EXPECT_EQ(DeclaredLength(0), expectedBody.size());
  EXPECT_NE(request.find("\r\nContent-Length: " + std::to_string(expectedBody.size()) +
                         "\r\nConnection: close\r\nHost: 127.0.0.1:" +
                         std::to_string(server.port()) +
                         "\r\nContent-Type: multipart/form-data; boundary=" + b + "\r\n\r\n"),
            std::string::npos)
      << request;
  EXPECT_EQ(session.boundary, "");
  EXPECT_EQ(session.uploadText, "");
}

TEST_F(UploadTest, FilesGoLastAddedFirstAndUnreadableOnesAreLeftOut) {
  dir.Write("one.JPG", std::string("\xff\xd8\0jpeg", 7));
  dir.Write("two.zip", "PK..");
  session.BeginUpload();
  session.AddUploadText("a", "1");
  session.AddUploadText("b", "2");
  session.AddUploadFile("first", dir.File("one.JPG"));
  session.AddUploadFile("gone", dir.File("missing.txt"));
  session.AddUploadFile("second", dir.File("two.zip"));
  session.AddUploadFile("folder", dir.path());
  const std::string b = session.boundary;
  ASSERT_TRUE(session.Request(server.Url("/up"), false));  // any method carries the upload
  std::string expected =
      "--" + b + "\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n"
      "--" + b + "\r\nContent-Disposition: form-data; name=\"b\"\r\n\r\n2\r\n"
      "--" + b + "\r\nContent-Disposition: form-data; name=\"second\"; filename=\"" +
      dir.File("two.zip") + "\"\r\nContent-Type: \r\n\r\nPK..\r\n"
      "--" + b + "\r\nContent-Disposition: form-data; name=\"first\"; filename=\"" +
      dir.File("one.JPG") + "\"\r\nContent-Type: application/x-jpg\r\n\r\n" +
      std::string("\xff\xd8\0jpeg", 7) + "\r\n--" + b + "--\r\n";
  EXPECT_EQ(SentBody(0), expected + "\r\n");
  EXPECT_EQ(DeclaredLength(0), expected.size());
  EXPECT_EQ(server.Request(0).rfind("GET /up HTTP/1.0\r\n", 0), 0u);
  EXPECT_TRUE(session.uploadFiles.empty());
}

TEST_F(UploadTest, AfterTheUploadTheNextRequestIsPlain) {
  session.BeginUpload();
  session.AddUploadText("a", "1");
  ASSERT_TRUE(session.Request(server.Url("/"), true));
  ASSERT_TRUE(session.Request(server.Url("/"), false));
  EXPECT_EQ(server.Request(1).find("multipart"), std::string::npos);
}

TEST_F(UploadTest, LargeFileIsSentWholeWithExactLength) {
  std::string data(3 * 1024 * 1024 + 17, 'x');
  for (size_t i = 0; i < data.size(); i += 4096) data[i] = static_cast<char>(i / 4096);
  dir.Write("big.bin", data);
  session.BeginUpload();
  session.AddUploadFile("f", dir.File("big.bin"));
  ASSERT_EQ(session.uploadFiles.size(), 1u);
  EXPECT_EQ(session.uploadFiles[0].contentType, "");
  ASSERT_TRUE(session.Request(server.Url("/"), true));
  std::string body = SentBody(0);
  EXPECT_EQ(DeclaredLength(0) + 2, body.size());
  EXPECT_NE(body.find(data), std::string::npos);
}

// Regression (fuzzing): a field or file name holding a quote or a line end
// closed the quotes or the header line of its part, so the server read other
// parts or headers than the script sent. Such bytes are written as %22, %0D
// and %0A, as browsers write them.
TEST_F(UploadTest, NamesCannotBreakThePartHeader) {
  dir.Write("q\"uote.txt", "data");
  session.BeginUpload();
  session.AddUploadText("a\"b\r\nX-Injected: 1", "v");
  session.AddUploadFile("f\n", dir.File("q\"uote.txt"));
  std::string body;
  WriteMultipartBody(session.boundary, session.uploadText, session.uploadFiles,
                     [&](std::string_view piece) { body.append(piece); });
  const std::string b = session.boundary;
  EXPECT_EQ(body, "--" + b + "\r\nContent-Disposition: form-data; name=\"a%22b%0D%0AX-Injected: 1\"\r\n\r\nv\r\n"
                  "--" + b + "\r\nContent-Disposition: form-data; name=\"f%0A\"; filename=\"" +
                  dir.path() + "/q%22uote.txt\"\r\nContent-Type: text/plain\r\n\r\ndata\r\n"
                  "--" + b + "--\r\n");
}

// Regression (fuzzing): the boundary comes from the time, so a value or a
// file can hold it, and the server then read a part that the script never
// added. The upload then takes another boundary of the same form, which the
// parts already added are written with too.
TEST_F(UploadTest, ContentThatHoldsTheBoundaryGetsAnother) {
  session.BeginUpload();
  const std::string first = session.boundary;
  session.AddUploadText("a", "1");
  const std::string forged = "x\r\n--" + first + "\r\nContent-Disposition: form-data; name=\"b\"\r\n\r\n2";
  session.AddUploadText("f", forged);
  const std::string b = session.boundary;
  ASSERT_NE(b, first);
  ASSERT_EQ(b.size(), 37u);
  EXPECT_EQ(b.substr(0, 27), std::string(27, '-'));
  dir.Write("holds.txt", "data --" + b + " more");
  session.AddUploadFile("file", dir.File("holds.txt"));
  const std::string c = session.boundary;
  ASSERT_NE(c, b);
  std::string body;
  WriteMultipartBody(session.boundary, session.uploadText, session.uploadFiles,
                     [&](std::string_view piece) { body.append(piece); });
  EXPECT_EQ(body, "--" + c + "\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n"
                  "--" + c + "\r\nContent-Disposition: form-data; name=\"f\"\r\n\r\n" + forged + "\r\n"
                  "--" + c + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"" +
                  dir.File("holds.txt") + "\"\r\nContent-Type: text/plain\r\n\r\ndata --" + b +
                  " more\r\n--" + c + "--\r\n");
}

TEST_F(UploadTest, ExtensionRules) {
  const std::pair<const char*, const char*> cases[] = {
      {"photo.JPG", "application/x-jpg"},
      {"archive.tar.gz", ""},
      {"noext", ""},
      {"ends.", "application/x-"},
      {"dir.v2/readme", ""},
      {"page.Html", "text/html"},
  };
  for (const auto& [name, type] : cases) {
    dir.Write(name, "x");
    session.AddUploadFile("f", dir.File(name));
    EXPECT_EQ(session.uploadFiles.back().contentType, type) << name;
  }
}

}  // namespace
}  // namespace qp
