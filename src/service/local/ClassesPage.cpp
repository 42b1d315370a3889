// kestrava-classes-page: writes the manual page kestrava-classes(7) from the providers' own tables,
// so that the page says what the code does. Run at build time; fails on a property without a type
// or a source, so a table that lacks one cannot be built.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "service/Providers.h"
#include "service/systemd/ServiceSchema.h"
#include "service/systemd/SystemdServiceProvider.h"

namespace {

using kestrava::SchemaPtr;
using kestrava::service::PropertyDoc;

struct ClassPage {
  SchemaPtr schema;
  std::vector<PropertyDoc> properties;
};

const std::set<std::string_view> kTypes = {"string",  "integer",  "uint64",
                                           "boolean", "datetime", "null"};

// Text of a table as roff: `names` in bold, the few non-ASCII signs the tables use as groff's own.
std::string roff(std::string_view text) {
  std::string out;
  bool bold = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '`') {
      out += bold ? "\\fR" : "\\fB";
      bold = !bold;
    } else if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else if ((c == '.' || c == '\'') && (out.empty() || out.back() == '\n')) {
      out += "\\&";
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x80) {
      out += c;
    } else {
      static const std::pair<std::string_view, std::string_view> kSigns[] = {
          {"×", "\\(mu"}, {"→", "\\(->"}, {"–", "\\(en"}, {"⁷", "^7"}};
      bool known = false;
      for (const auto& [sign, escape] : kSigns)
        if (text.substr(i, sign.size()) == sign) {
          out += escape;
          i += sign.size() - 1;
          known = true;
          break;
        }
      if (!known) throw std::runtime_error("a sign the page cannot show in: " + std::string(text));
    }
  }
  if (bold) throw std::runtime_error("an unclosed ` in: " + std::string(text));
  return out;
}

void checkClass(const ClassPage& c) {
  const auto& names = c.schema->properties();
  if (c.properties.size() != names.size())
    throw std::runtime_error(c.schema->className() + " documents " +
                             std::to_string(c.properties.size()) + " of its " +
                             std::to_string(names.size()) + " properties");
  for (size_t i = 0; i < names.size(); ++i) {
    const PropertyDoc& d = c.properties[i];
    if (!d.type || !kTypes.count(d.type) || !d.unit || !d.source || !*d.source)
      throw std::runtime_error(c.schema->className() + "." + names[i] +
                               " lacks a known type or a source");
  }
}

void writePage(std::ostream& out, std::vector<ClassPage> classes) {
  std::sort(classes.begin(), classes.end(), [](const ClassPage& a, const ClassPage& b) {
    return a.schema->className() < b.schema->className();
  });
  out << R"(.\" Generated from Kestrava's class providers when it is built; do not edit.
.TH KESTRAVA\-CLASSES 7 "December 2026" "Kestrava" "Kestrava"
.nh
.ad l
.SH NAME
kestrava\-classes \- the management classes Kestrava answers on Linux
.SH DESCRIPTION
.BR kestrava (1),
.BR kestrava\-query (1)
and
.BR kestrava\-agent (1)
answer the classes below from the running Linux system.
For each class this page gives its key, the property whose value names one instance in an
object path (\fBWin32_Service=\(aqcron.service\(aq\fR), and for each property its type, its
unit and where Linux keeps it.
It is written from the providers' own tables when Kestrava is built, so it says what the
installed programs do.
.SS Types
.TP
.B string
text, always valid UTF\-8; a byte that is not becomes U+FFFD.
.TP
.B integer
a whole number that fits in 32 bits.
.TP
.B uint64
a count that may pass 32 bits (bytes, kilobytes, times in 100\-nanosecond units, operations),
carried as its decimal text; a query compares it as a number, whatever form the literal takes,
and JSON output writes it as a number.
.TP
.B boolean
True or False.
.TP
.B datetime
a CIM datetime, \fIyyyymmddHHMMSS.mmmmmm+UUU\fR: local time, then the offset from UTC in
minutes with its sign.
.TP
.B null
Linux has no faithful value for it: it is always null.
.PP
Any property may be null where its source cannot be read (a file of another user, a process
that ended while it was read).
.SS Units
The units are the ones the classes have always used, and they differ between properties
of one class: \fBWorkingSetSize\fR of \fBWin32_Process\fR is in bytes, its
\fBPeakWorkingSetSize\fR in kilobytes.
A property with no unit given is a code, a count or a text.
.SH CLASSES
)";
  for (const ClassPage& c : classes) {
    out << ".SS " << c.schema->className() << "\n"
        << "Key: \\fB" << c.schema->keyProperty() << "\\fR.\n"
        << c.schema->className() << " has " << c.schema->size() << " properties.\n";
    const auto& names = c.schema->properties();
    for (size_t i = 0; i < names.size(); ++i) {
      const PropertyDoc& d = c.properties[i];
      out << ".TP\n\\fB" << names[i] << "\\fR \\(em " << d.type;
      if (*d.unit) out << ", " << roff(d.unit);
      if (names[i] == c.schema->keyProperty()) out << ", key";
      out << "\n" << roff(d.source) << "\n";
    }
  }
  out << R"(.SH SEE ALSO
.BR kestrava (1),
.BR kestrava\-query (1),
.BR kestrava\-agent (1),
.BR proc (5),
.BR systemd.exec (5)
)";
}

}  // namespace

// kestrava-classes-page [FILE]: the page to FILE, else to standard output.
int main(int argc, char** argv) {
  try {
    std::vector<ClassPage> classes;
    for (const auto& provider : kestrava::service::makeLinuxProviders())
      classes.push_back({provider->schema(), provider->documentation()});
    classes.push_back({kestrava::service::win32ServiceSchema(),
                       kestrava::service::systemd::SystemdServiceProvider::propertyDocs()});
    for (const ClassPage& c : classes) checkClass(c);
    std::ostringstream page;
    writePage(page, classes);
    if (argc < 2) {
      std::cout << page.str();
      return std::cout.flush() ? 0 : 1;
    }
    std::ofstream file(argv[1], std::ios::binary | std::ios::trunc);
    file << page.str();
    file.close();
    if (!file) throw std::runtime_error(std::string("cannot write ") + argv[1]);
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "kestrava-classes-page: " << e.what() << "\n";
    return 1;
  }
}
