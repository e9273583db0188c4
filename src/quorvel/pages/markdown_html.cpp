#include "quorvel/pages/markdown_html.h"

#include <md4c-html.h>

#include "quorvel/pages/html_text.h"
#include "quorvel/utils/utf8_text.h"

namespace quorvel::pages {

namespace {

void append(const MD_CHAR* text, MD_SIZE size, void* out) { static_cast<std::string*>(out)->append(text, size); }

}  // namespace

std::string markdown_html(std::string_view markdown) {
  std::string html;
  html.reserve(markdown.size() + markdown.size() / 4);
  const int failed = md_html(markdown.data(), MD_SIZE(markdown.size()), append, &html,
                             MD_DIALECT_GITHUB | MD_FLAG_NOHTML, MD_HTML_FLAG_SKIP_UTF8_BOM);
  // The parser gives up only when memory runs out; the text is then shown as it is.
  if (failed != 0) return "<pre>" + html_escape(markdown) + "</pre>";
  // A numeric character reference to a surrogate ("&#xD800;") comes out as the bytes of the
  // surrogate, which are not UTF-8: such bytes become U+FFFD, as a browser would show them.
  std::string valid;
  return is_valid_utf8(html) ? html : std::string(ensure_valid_utf8(html, valid));
}

}  // namespace quorvel::pages
