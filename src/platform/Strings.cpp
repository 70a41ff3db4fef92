#include "platform/Strings.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>

namespace remcons {
namespace {

using Table = std::map<int, const char*>;

const Table& EnglishTable() {
  static const Table table = {
      {110, "Session Acquired by another user."},
      {111, "Session terminated by firmware update."},
      // Virtual media: refusals of the drive hello and the mount dialogs.
      {112, "This drive type is already in use."},
      {113, "Invalid session key."},
      {115, "Session key has expired."},
      {116, "Drive has not been configured."},
      {117, "Virtual media permission is required."},
      {118, "Unable to connect to drive."},
      {119, "Invalid image type"},
      // Console and multi-user session status.
      {130, "Attempting to connect to Kro remote console."},
      {131, "Attempting to connect to the session leader."},
      {132, "Video suspended"},
      {133, "The Multi-User session is full."},
      {134, "The Session Leader is not accepting new connections."},
      {135, "Connection to Kro lost"},
      {136, "Connection to session leader lost"},
      {137, "Elapse Time: %.2f sec"},
      {138, "The session leader has terminated your connection."},
      {139, "The session leader has closed the multi-user session."},
      {140, "Choose a folder to mount:\n\t(Folder is READ ONLY; MAX size is 1024MB)"},
      {141, "Unable to mount folder; verify path.(1)"},
      // Folder image errors.
      {142, "Selected folder exceeds maximum allowed folder size of %d MB."},
      {143, "System memory allocation failed. [%d]"},
      {144, "File error occurred on %s. [%d%03d]"},
      {145, "File copy error occurred. [%d%03d]"},
      {146, "Folder path creation error. [%d%03d]"},
      {147, "Selected folder exceeds maximum entries for file system root directory."},
      {148, "Invalid sector request 0x%x."},
      {149, "Invalid buffer size 0x%x."},
      {150, "Unknown error(%03d) while attempting to map Folder. Try again."},
      // Multi-user session leader.
      {151, "Accepted"},
      {153, "User \"%s\" (%s) disconnected"},
      {154, "The user \"%s\" (%s) would like to join the multi-user session."},
      {155, "User \"%s\" (%s) joined the multi-user session."},
      {156, "The user \"%s\" (%s) has requested control"},
      {157, "The user \"%s\" (%s) has relinquished control"},
      {158, "Session Leader disconnected user \"%s\" (%s)"},
  };
  return table;
}

const Table& JapaneseTable() {
  static const Table table = {
      {110, "別のユーザーがセッションを取得しました。"},
      {111, "ファームウェアの更新によりセッションが終了しました。"},
      {112, "この種類のドライブはすでに使用中です。"},
      {113, "セッション キーが無効です。"},
      {115, "セッション キーの有効期限が切れています。"},
      {116, "ドライブが構成されていません。"},
      {117, "仮想メディアの権限が必要です。"},
      {118, "ドライブに接続できません。"},
      {119, "無効なイメージの種類です"},
      {130, "Kro リモート コンソールに接続しています。"},
      {131, "セッション リーダーに接続しています。"},
      {132, "ビデオ停止中"},
      {133, "マルチユーザー セッションは満員です。"},
      {134, "セッション リーダーは新しい接続を受け付けていません。"},
      {135, "Kro との接続が切断されました"},
      {136, "セッション リーダーとの接続が切断されました"},
      {137, "経過時間: %.2f 秒"},
      {138, "セッション リーダーによって接続が切断されました。"},
      {139, "セッション リーダーがマルチユーザー セッションを終了しました。"},
      {140,
       "マウントするフォルダーを選択してください:\n\t(フォルダーは読み取り専用です。最大サイズは "
       "1024MB です)"},
      {141, "フォルダーをマウントできません。パスを確認してください。(1)"},
      {142, "選択したフォルダーは、許可されている最大フォルダー サイズ %d MB を超えています。"},
      {143, "システム メモリの割り当てに失敗しました。[%d]"},
      {144, "%s でファイル エラーが発生しました。[%d%03d]"},
      {145, "ファイルのコピー中にエラーが発生しました。[%d%03d]"},
      {146, "フォルダー パスの作成でエラーが発生しました。[%d%03d]"},
      {147,
       "選択したフォルダーは、ファイル システムのルート "
       "ディレクトリの最大エントリ数を超えています。"},
      {148, "無効なセクター要求です: 0x%x。"},
      {149, "無効なバッファー サイズです: 0x%x。"},
      {150, "フォルダーのマップ中に不明なエラー(%03d)が発生しました。もう一度実行してください。"},
      {151, "承認されました"},
      {153, "ユーザー \"%s\" (%s) が切断しました"},
      {154, "ユーザー \"%s\" (%s) がマルチユーザー セッションへの参加を希望しています。"},
      {155, "ユーザー \"%s\" (%s) がマルチユーザー セッションに参加しました。"},
      {156, "ユーザー \"%s\" (%s) が制御を要求しました"},
      {157, "ユーザー \"%s\" (%s) が制御を放棄しました"},
      {158, "セッション リーダーがユーザー \"%s\" (%s) を切断しました"},
  };
  return table;
}

Language LanguageFromEnvironment() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value && *value)
      return std::strncmp(value, "ja", 2) == 0 ? Language::kJapanese : Language::kEnglish;
  }
  return Language::kEnglish;
}

std::atomic<int>& CurrentLanguage() {
  static std::atomic<int> language{static_cast<int>(LanguageFromEnvironment())};
  return language;
}

}  // namespace

Language UiLanguage() {
  return static_cast<Language>(CurrentLanguage().load());
}
void SetUiLanguage(Language language) {
  CurrentLanguage() = static_cast<int>(language);
}

const char* LoadString(int id, Language language) {
  const Table& table = language == Language::kJapanese ? JapaneseTable() : EnglishTable();
  auto it = table.find(id);
  if (it != table.end()) return it->second;
  // A number missing from the Japanese table falls back to its English text.
  if (language == Language::kJapanese) return LoadString(id, Language::kEnglish);
  return "";
}

const char* LoadString(int id) {
  return LoadString(id, UiLanguage());
}

}  // namespace remcons
