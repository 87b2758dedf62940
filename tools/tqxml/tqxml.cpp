// tqxml: reads and edits settings files in the library's XML dialect from the
// command line, through the same tqXml the programs use.
#include "xml/tqXml.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/tqConsole.h"
#include "tqClassBase/tqClassBase.h"
#include "util/tqUtil.h"

namespace {

// Exit codes: 0 done, 1 the answer is "no" (not found, no children, a file
// that does not parse for check), 2 the command could not be carried out.
constexpr int kDone = 0;
constexpr int kNo = 1;
constexpr int kFailed = 2;

const char kUsage[] =
    "usage: tqxml COMMAND [OPTIONS] FILE [ARGUMENTS]\n"
    "\n"
    "Reads and edits XML settings files (Shift_JIS) the way the library reads them.\n"
    "\n"
    "commands:\n"
    "  check FILE                        parse; print the code and the parser's message\n"
    "  get [--raw] FILE NAME...          print the text of the element at the path\n"
    "  int [--default N] FILE NAME...    print the element's text as a number\n"
    "  children [--raw] FILE [NAME...]   print the names of an element's children\n"
    "  set [--raw] FILE VALUE NAME...    store VALUE at the path and save the file\n"
    "  dump [--raw] FILE                 print the whole document as a tree\n"
    "\n"
    "Options come before FILE. \"tqxml COMMAND --help\" describes a command.\n"
    "Exit status: 0 done, 1 not found (or, for check, the file does not parse),\n"
    "2 the command failed.\n";

const char kCheckHelp[] =
    "usage: tqxml check [--raw] FILE\n"
    "\n"
    "Parses FILE. The first line is \"code N\" (0 success; 1 cannot open, 2 cannot\n"
    "read, 4 no valid declaration, 5 bad tag, 6 end tag does not match); the\n"
    "second, when there is one, is the parser's message (a code 0 can carry the\n"
    "message of an attribute that was skipped). Exit status 0 only for code 0.\n"
    "--raw prints the message in Shift_JIS as stored.\n";

const char kGetHelp[] =
    "usage: tqxml get [--raw] FILE NAME...\n"
    "\n"
    "Prints the text of the element at the path NAME... and a newline. When the\n"
    "file's only top-level element is \"document\", the path starts below it.\n"
    "Among elements of the same name the last one in the file that holds the\n"
    "rest of the path wins. An element with children yields the whitespace\n"
    "between them. Exit status 1 when the element is missing.\n"
    "--raw takes the names as bytes and prints the text's exact bytes with no\n"
    "newline; otherwise names and text are converted from and to the terminal's\n"
    "charset.\n";

const char kIntHelp[] =
    "usage: tqxml int [--default N] FILE NAME...\n"
    "\n"
    "Prints the element's text as a decimal number (\"0x\" reads hexadecimal; text\n"
    "that is no number gives 0, as does a decimal number followed by \".\"), or N\n"
    "(default 0) when the element is missing. Paths as for get.\n";

const char kChildrenHelp[] =
    "usage: tqxml children [--raw] FILE [NAME...]\n"
    "\n"
    "Prints the names of the children of the element at \"document\"/NAME..., one\n"
    "a line, in the library's order: the last child in the file first. A NAME\n"
    "may hold several names separated by \"/\". Without names, lists the children\n"
    "of the top-level element. Exit status 1 when the element is missing or has\n"
    "no children.\n"
    "--raw takes the names as bytes and prints each child's name in Shift_JIS\n"
    "followed by a LF.\n";

const char kSetHelp[] =
    "usage: tqxml set [--raw] FILE VALUE NAME...\n"
    "\n"
    "Stores VALUE as the text of the element at \"document\"/NAME..., creating\n"
    "missing elements (new ones are written before their older siblings), and\n"
    "saves FILE in the library's layout. A missing FILE is created; a FILE that\n"
    "exists but does not parse is left alone (exit status 2). Saving drops the\n"
    "text between child elements and rewrites the indentation.\n"
    "--raw takes VALUE and the names as bytes.\n";

const char kDumpHelp[] =
    "usage: tqxml dump [--raw] FILE\n"
    "\n"
    "Prints the document model as a tree, two spaces per level, in the library's\n"
    "order (the last child in the file first): each element's name, its\n"
    "attributes as @name=\"value\", and for elements without children \"= text\".\n"
    "--raw prints names and texts in Shift_JIS as stored.\n";

struct Command {
  const char* name;
  const char* help;
};
const Command kCommands[] = {{"check", kCheckHelp},       {"get", kGetHelp}, {"int", kIntHelp},
                             {"children", kChildrenHelp}, {"set", kSetHelp}, {"dump", kDumpHelp}};

// Shows error boxes of the library on standard error instead of a dialog.
class StderrPresenter : public tqErrorPresenter {
 public:
  void Show(const char* caption, const char* text) override {
    fprintf(stderr, "tqxml: %s %s\n", caption, tqp::ConsoleFromNarrow(text).c_str());
  }
};

struct Options {
  std::string command;
  bool raw = false;
  bool help = false;
  bool hasDefault = false;
  int defaultValue = 0;
  std::vector<std::string> arguments;  // FILE and what follows it
};

int Usage(const char* message, const char* help) {
  if (message) fprintf(stderr, "tqxml: %s\n", message);
  fputs(help, stderr);
  return kFailed;
}

void Out(const std::string& bytes) { fwrite(bytes.data(), 1, bytes.size(), stdout); }

// Text for the terminal, or the stored bytes with --raw.
std::string Shown(const Options& options, const std::string& narrow) {
  return options.raw ? narrow : tqp::ConsoleFromNarrow(narrow);
}

bool Narrow(const Options& options, const std::string& text, std::string& narrow) {
  if (options.raw) {
    narrow = text;
    return true;
  }
  return tqp::NarrowFromConsole(text, narrow);
}

bool NarrowNames(const Options& options, size_t first, std::vector<std::string>& names) {
  for (size_t i = first; i < options.arguments.size(); ++i) {
    std::string narrow;
    if (!Narrow(options, options.arguments[i], narrow)) {
      fprintf(stderr, "tqxml: the name \"%s\" has no Shift_JIS form\n",
              options.arguments[i].c_str());
      return false;
    }
    names.push_back(narrow);
  }
  return true;
}

bool LibraryPath(const std::string& argument, std::string& path) {
  if (!tqp::LibraryPathFromArgument(argument.c_str(), path)) {
    fprintf(stderr, "tqxml: the path \"%s\" has no Shift_JIS form\n", argument.c_str());
    return false;
  }
  return true;
}

// Opens FILE for a read; on failure explains why on standard error.
bool Load(tqXml& xml, const std::string& argument, const std::string& path) {
  if (xml.Open(path.c_str())) return true;
  tqXmlParser* parser = xml.Parser();
  fprintf(stderr, "tqxml: %s: code %d: %s\n", argument.c_str(), parser ? parser->Error() : -1,
          parser ? tqp::ConsoleFromNarrow(parser->Message()).c_str() : "out of memory");
  return false;
}

int Check(const Options& options, const std::string& path) {
  tqXml xml;
  xml.Open(path.c_str());
  tqXmlParser* parser = xml.Parser();
  if (!parser) {
    fprintf(stderr, "tqxml: out of memory\n");
    return kFailed;
  }
  printf("code %d\n", parser->Error());
  if (parser->Message()[0]) Out(Shown(options, parser->Message()) + "\n");
  // Loaded all the same, but what followed the cut is lost.
  if (parser->Error() == 0 && !parser->RootClosed())
    fprintf(stderr, "tqxml: %s: the root element is not closed\n", options.arguments[0].c_str());
  return parser->Error() == 0 ? kDone : kNo;
}

int Get(const Options& options, const std::string& path) {
  std::vector<std::string> names;
  if (!NarrowNames(options, 1, names)) return kFailed;
  tqXml xml;
  if (!Load(xml, options.arguments[0], path)) return kFailed;
  std::string value;
  if (!xml.GetStrPath(value, "", names)) {
    fprintf(stderr, "tqxml: %s: no element at that path\n", options.arguments[0].c_str());
    return kNo;
  }
  Out(options.raw ? value : Shown(options, value) + "\n");
  return kDone;
}

int Int(const Options& options, const std::string& path) {
  std::vector<std::string> names;
  if (!NarrowNames(options, 1, names)) return kFailed;
  tqXml xml;
  if (!Load(xml, options.arguments[0], path)) return kFailed;
  printf("%d\n", xml.GetIntPath(options.defaultValue, names));
  return kDone;
}

int Children(const Options& options, const std::string& path) {
  std::vector<std::string> names;
  if (!NarrowNames(options, 1, names)) return kFailed;
  tqXml xml;
  if (!Load(xml, options.arguments[0], path)) return kFailed;
  tqXmlChildIterator it;
  if (!xml.GetChildrenPath(&it, names)) {
    fprintf(stderr, "tqxml: %s: no element with children at that path\n",
            options.arguments[0].c_str());
    return kNo;
  }
  std::string name;
  while (xml.NextChild(&it, name)) Out(Shown(options, name) + "\n");
  return kDone;
}

int Set(const Options& options, const std::string& path) {
  std::string value;
  std::vector<std::string> names;
  if (!Narrow(options, options.arguments[1], value)) {
    fprintf(stderr, "tqxml: the value has no Shift_JIS form\n");
    return kFailed;
  }
  if (!NarrowNames(options, 2, names)) return kFailed;
  tqXml xml;
  if (!xml.Open(path.c_str())) {
    tqXmlParser* parser = xml.Parser();
    // Only a file that is not there is started afresh: anything else that
    // fails to parse would be lost by the save.
    if (!parser || parser->Error() != tqXmlParser::XML_OPEN_FAILED || tqExists(path.c_str()) != 0) {
      Load(xml, options.arguments[0], path);  // explains the failure
      return kFailed;
    }
    if (!xml.Create()) {
      fprintf(stderr, "tqxml: out of memory\n");
      return kFailed;
    }
  }
  xml.SetStrPath(value.c_str(), names);
  xml.Save(path.c_str());
  tqXmlParser* parser = xml.Parser();
  if (!parser || parser->Error() != 0) {
    fprintf(stderr, "tqxml: %s: cannot save: code %d: %s\n", options.arguments[0].c_str(),
            parser ? parser->Error() : -1,
            parser ? tqp::ConsoleFromNarrow(parser->Message()).c_str() : "out of memory");
    return kFailed;
  }
  return kDone;
}

constexpr size_t kMaxIndent = 32;

// Depth-first with a stack of our own: documents may nest very deeply.
int Dump(const Options& options, const std::string& path) {
  tqXml xml;
  if (!Load(xml, options.arguments[0], path)) return kFailed;
  struct Frame {
    const tqXmlNodeList* list;
    size_t index;
  };
  std::vector<Frame> stack;
  if (xml.Top() && !xml.Top()->empty()) stack.push_back({xml.Top(), 0});
  std::string line;
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (frame.index >= frame.list->size()) {
      stack.pop_back();
      continue;
    }
    const tqXmlNode& node = (*frame.list)[frame.index++];
    // Indentation stops growing at kMaxIndent levels, so output stays
    // proportional to the input however deep it nests; deeper lines carry
    // their level instead.
    const size_t depth = stack.size() - 1;
    line.assign(std::min(depth, kMaxIndent) * 2, ' ');
    if (depth > kMaxIndent) line += "[" + std::to_string(depth) + "] ";
    line += node.name;
    if (node.attributes) {
      for (const tqXmlAttribute& a : *node.attributes)
        line += " @" + a.name + "=\"" + a.value + "\"";
    }
    if (!node.children) line += node.value.empty() ? " =" : " = " + node.value;
    Out(Shown(options, line) + "\n");
    if (node.children) stack.push_back({node.children, 0});
  }
  return kDone;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage(nullptr, kUsage);
  Options options;
  options.command = argv[1];
  if (options.command == "--help" || options.command == "-h" || options.command == "help") {
    fputs(kUsage, stdout);
    return kDone;
  }
  const Command* command = nullptr;
  for (const Command& c : kCommands) {
    if (options.command == c.name) command = &c;
  }
  if (!command) return Usage(("unknown command \"" + options.command + "\"").c_str(), kUsage);

  int i = 2;
  for (; i < argc && strncmp(argv[i], "--", 2) == 0; ++i) {
    std::string option = argv[i];
    if (option == "--") {
      ++i;
      break;
    }
    if (option == "--help") {
      options.help = true;
    } else if (option == "--raw" && options.command != "int") {
      options.raw = true;
    } else if (option == "--default" && options.command == "int") {
      int end = 0;
      if (i + 1 >= argc || !tqNumberEnd(argv[i + 1], &options.defaultValue, &end) ||
          argv[i + 1][end]) {
        return Usage("--default needs a number", command->help);
      }
      options.hasDefault = true;
      ++i;
    } else {
      return Usage(("unknown option \"" + option + "\"").c_str(), command->help);
    }
  }
  if (options.help) {
    fputs(command->help, stdout);
    return kDone;
  }
  for (; i < argc; ++i) options.arguments.push_back(argv[i]);

  size_t least = 1;  // FILE
  if (options.command == "get" || options.command == "int") least = 2;
  if (options.command == "set") least = 3;
  if (options.arguments.size() < least) return Usage("missing arguments", command->help);
  if ((options.command == "check" || options.command == "dump") && options.arguments.size() > 1) {
    return Usage("too many arguments", command->help);
  }

  std::string path;
  if (!LibraryPath(options.arguments[0], path)) return kFailed;
  if (options.raw) tqp::SetBinaryOutput();

  StderrPresenter presenter;
  SetErrorPresenter(&presenter);
  CreatePrivateHeap(10485760);
  int result;
  if (options.command == "check") {
    result = Check(options, path);
  } else if (options.command == "get") {
    result = Get(options, path);
  } else if (options.command == "int") {
    result = Int(options, path);
  } else if (options.command == "children") {
    result = Children(options, path);
  } else if (options.command == "set") {
    result = Set(options, path);
  } else {
    result = Dump(options, path);
  }
  DestroyPrivateHeap();
  SetErrorPresenter(nullptr);
  if (fflush(stdout) != 0 || ferror(stdout)) {
    fprintf(stderr, "tqxml: cannot write the output\n");
    return kFailed;
  }
  return result;
}
