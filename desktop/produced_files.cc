// The produced-files page.
#include "produced_files.h"

#include "text_util.h"

namespace quillo::desktop {

std::vector<std::string> ProducedFileNames(const std::vector<std::string>& names,
                                           const std::string& imageExt) {
  std::vector<std::string> out;
  for (const std::string& name : names) {
    if (Lower(Extension(name)) == "wmf" && !imageExt.empty()) {
      std::string converted = StripExtension(name) + "." + imageExt;
      if (FileExists(converted)) {
        out.push_back(converted);
        continue;
      }
    }
    out.push_back(name);
  }
  return out;
}

std::string ProducedFilesPageName(const std::string& outputName) {
  return DirName(outputName) + "/" + BaseName(StripExtension(outputName)) + "_Log.htm";
}

std::string FormatProducedFilesPage(const std::string& title, const std::vector<std::string>& names,
                                    const std::string& pageFolder) {
  std::string prefix = pageFolder == "/" ? pageFolder : pageFolder + "/";
  std::string html =
      "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Files produced from " +
      HtmlEscape(title) +
      "</title>\n<style>body{font:14px/1.5 system-ui,sans-serif;margin:1.5em;color:#222}"
      "li{margin:.2em 0}a{color:#1a5fb4}</style></head><body>\n<ol>\n";
  for (const std::string& name : names) {
    std::string href;
    if (name.compare(0, prefix.size(), prefix) == 0) {
      // Relative links work both from the disk and when the page is served.
      for (char c : name.substr(prefix.size())) {
        if (c == ' ')
          href += "%20";
        else if (c == '#')
          href += "%23";
        else if (c == '?')
          href += "%3F";
        else if (c == '%')
          href += "%25";
        else
          href += c;
      }
    } else {
      href = "file://" + name;
    }
    html += "<li><a href=\"" + HtmlEscape(href) + "\">" + HtmlEscape(name) + "</a></li>\n";
  }
  html += "</ol>\n</body></html>\n";
  return html;
}

}  // namespace quillo::desktop
