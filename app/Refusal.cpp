// Texts of the refusals, in the user's language of the product (Japanese).
#include "app/Refusal.h"

std::string Refusal::Describe() const {
  const char* reason = "";
  switch (kind) {
    case NONE: return std::string();
    case LINK: reason = "リンクは更新できません"; break;
    case SPECIAL_FILE: reason = "通常のファイルではありません"; break;
    case NAME_NOT_IN_CODE_PAGE: reason = "システムの文字コードで表せない名前があります"; break;
    case PATH_TOO_LONG: reason = "パスが長すぎます"; break;
    case UNREADABLE: reason = "読み込めません"; break;
    case WRITE_FAILED: reason = "書き込めません"; break;
    case TOO_LARGE: reason = "ファイルが大きすぎます"; break;
    case OUT_OF_MEMORY: reason = "メモリが足りません"; break;
    case NOT_ABSOLUTE: reason = "インストール先が絶対パスではありません"; break;
    case NOT_A_FOLDER: reason = "インストール先のフォルダがありません"; break;
    case DESCRIPTION_CUT: reason = "更新情報が途中で切れています"; break;
    case MISSING_MESSAGES: reason = "選択した言語のメッセージがありません"; break;
    case VERSION_RANGE: reason = "バージョン番号が範囲外です"; break;
  }
  return path.empty() ? std::string(reason) : path + "\n" + reason;
}
