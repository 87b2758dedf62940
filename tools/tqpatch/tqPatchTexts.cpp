// The message texts that ship with tqpatch, and the "texts" command that
// writes them out for a maker to edit and hand back with --texts.
#include <cstring>

#include "tools/tqpatch/tqPatch.h"

namespace tqpatch {

// Kept in the order the updater reads them. Only the first five texts turn
// a backslash-n into a line break; the others show it as typed.
const std::vector<MessageKey>& MessageKeys() {
  static const std::vector<MessageKey> keys = {
      {"message", "wndtitle", 256},     {"message", "intoro", 512},        {"message", "success", 512},
      {"message", "error_version", 512}, {"message", "error_inst", 512},   {"message", "error_copy", 512},
      {"message_sys", "sellang", 512},  {"message_sys", "copying", 512},   {"message_error", "language", 512},
      {"message_error", "boot", 512},   {"message_error", "title", 512},
  };
  return keys;
}

// The source is UTF-8 and compiled to code page 932: the text is Shift_JIS.
const char* TextTemplate() {
  return R"(<?xml version="1.0" encoding="Shift_JIS"?>
<document>
  <language>
    <default>jp</default>
    <lang00>
      <code>1041</code>
      <prifix>jp</prifix>
      <lang>日本語</lang>
    </lang00>
    <lang01>
      <code>1033</code>
      <prifix>en</prifix>
      <lang>English</lang>
    </lang01>
  </language>
  <jp>
    <message>
      <wndtitle>%TITLE% アップデート</wndtitle>
      <intoro>%TITLE% を更新します。\nよろしいですか？</intoro>
      <success>アップデートが完了しました。</success>
      <error_version>インストールされているバージョンが古いため、\nアップデートできません。</error_version>
      <error_inst>%TITLE% のインストール先が見つかりません。</error_inst>
      <error_copy>アップデートに失敗しました。</error_copy>
    </message>
    <message_sys>
      <sellang>言語を選択してください。</sellang>
      <copying>アップデート中です。しばらくお待ちください。</copying>
    </message_sys>
    <message_error>
      <language>言語が見つかりません。</language>
      <boot>%TITLE% または設定ツールが起動しています。終了してから実行してください。</boot>
      <title>エラー</title>
    </message_error>
  </jp>
  <en>
    <message>
      <wndtitle>%TITLE% Update</wndtitle>
      <intoro>This updates %TITLE%.\nContinue?</intoro>
      <success>The update is complete.</success>
      <error_version>The installed version is too old\nfor this update.</error_version>
      <error_inst>%TITLE% is not installed.</error_inst>
      <error_copy>The update failed.</error_copy>
    </message>
    <message_sys>
      <sellang>Choose a language.</sellang>
      <copying>Updating, please wait...</copying>
    </message_sys>
    <message_error>
      <language>No language found.</language>
      <boot>%TITLE% or its settings tool is running. Close it first.</boot>
      <title>Error</title>
    </message_error>
  </en>
</document>
)";
}

namespace {
const char kTextsUsage[] =
    "usage: tqpatch texts OUT.xml\n"
    "Writes the message texts that tqpatch make uses (Japanese and English, Shift_JIS,\n"
    "%TITLE% stands for --title) to OUT.xml, to be edited and given back with --texts.\n";
}

int Texts(int argc, const char* const* argv) {
  if (argc == 3 && (!strcmp(argv[2], "--help") || !strcmp(argv[2], "-h"))) {
    fputs(kTextsUsage, stdout);
    return EXIT_OK;
  }
  if (argc != 3 || argv[2][0] == '-') {
    fputs(kTextsUsage, stderr);
    return EXIT_USAGE;
  }
  ArgPath out;
  if (!PathFromArgument(argv[2], out)) return Error(std::string(argv[2]) + ": the name has no Shift_JIS form");
  return WriteBytes(out.system, TextTemplate()) ? EXIT_OK : Error(std::string(argv[2]) + ": cannot write the file");
}

}  // namespace tqpatch
