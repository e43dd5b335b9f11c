// Everything the player reads, kept once, as UTF-16 so it shows correctly
// whatever the system's code page.
#pragma once

namespace qz::texts {

// Start-up
inline constexpr wchar_t kBadParameter[] = L"パラメータが正しくありません。";
inline constexpr wchar_t kAlreadyRunning[] =
    L"実行中のインストールウィザードがあります。\r\n\r\n使用中のプログラムを閉じた後､再実行してください。";
inline constexpr wchar_t kDataReadFailed[] =
    L"原因不明のエラーのため､実行に失敗しました。\r\n\r\n再実行してください。(Data Read Failed)";
// A "quorlynx:" link whose ticket is refused, whatever the reason (the log names it).
inline constexpr wchar_t kTicketRefused[] =
    L"このリンクではゲームを起動できませんでした。\r\n\r\n"
    L"ポータルのゲームページから、もう一度ゲームスタートを押してください。(Ticket Refused)";
// Started below medium integrity: a browser in protected mode that has no
// elevation policy for us (the control's registration writes it).
inline constexpr wchar_t kLowIntegrity[] =
    L"ブラウザーの保護モードの中で起動されたため、インストールやゲームの起動ができません。\r\n\r\n"
    L"コントロールを登録し直してから、ブラウザーを再起動してください。";

// Rights
inline constexpr wchar_t kRightsDeclined[] =
    L"管理者の権限が許可されなかったため、インストールを中止しました。\r\n\r\n何も変更されていません。";
inline constexpr wchar_t kElevationFailed[] =
    L"管理者の権限での実行に失敗しました。\r\n\r\nしばらく後で再実行してください。";
// A change that needs administrator rights on a PC that names no publisher's
// key: an administrator's change takes only signed releases.
inline constexpr wchar_t kUnsignedChangeRefused[] =
    L"このPCでは署名されたアップデートだけを管理者の権限で適用できるため、インストールを中止しました。\r\n\r"
    L"\n"
    L"何も変更されていません。PCの管理者にお問い合わせください。(Unsigned Release)";
inline constexpr wchar_t kVersionWriteFailed[] =
    L"インストールしたバージョンを記録できませんでした。\r\n\r\n再実行してください。";

// The work folder (%ls takes its path)
inline constexpr wchar_t kNoTempFolder[] =
    L"一時フォルダが見つからないため、実行を中止しました。\r\n\r\n何も変更されていません。";
inline constexpr wchar_t kWorkFolderRefusedFormat[] =
    L"作業フォルダが他のユーザーによって作成されたか、他のユーザーが書き込めるため、実行を中止しました。\r\n"
    L"\r\n"
    L"%ls\r\n\r\nこのフォルダを削除してから再実行してください。";

// Captions
inline constexpr wchar_t kNoticeCaption[] = L"お知らせ";
inline constexpr wchar_t kWizardCaption[] = L"Velto インストールウィザード ";

// Run modes
inline constexpr wchar_t kUpdateFailed[] =
    L"アップデート情報の取得に失敗しました。\r\n\r\nしばらく後で再実行してください";
// A signed manifest whose Expires has passed: the server gives stale update
// information (or the PC's clock is wrong).
inline constexpr wchar_t kUpdateOutOfDate[] =
    L"アップデート情報が古くなっています。\r\n\r\nしばらく後で再実行してください";
// A setup mode's installer without a signature by a configured key: nothing
// was run or unpacked.
inline constexpr wchar_t kInstallerNotSigned[] =
    L"インストールファイルの署名を確認できないため、インストールを中止しました。\r\n\r\n"
    L"何も実行されていません。(Installer Not Signed)";
inline constexpr wchar_t kReinstallQuestion[] =
    L"ゲームがインストールされているフォルダや実行ファイルが存在しません。\r\n"
    L"インストールされたフォルダやファイルを変更または削除した場合､再インストールが必要です。\r\n\r\n"
    L"今すぐインストールしますか？";

// Waiting dialog
inline constexpr wchar_t kWaitGame[] = L"プログラムの実行に必要な情報を取得中です。";
inline constexpr wchar_t kWaitAvatar[] = L"アバターモジュールのバージョンを確認中です。";

// Game start (printf format: %d takes the required DirectX version)
inline constexpr wchar_t kDirectXTooOldFormat[] =
    L"ゲームに必要なDirectXが以前のバージョンのままです。\r\n"
    L"DirectX(バージョン%d以上)をインストール後再実行してください。";

// Wizard
inline constexpr wchar_t kUpgradeText1[] =
    L"インストールウィザードがプログラムのアップグレードの準備中です。";
inline constexpr wchar_t kUpgradeText2[] = L"<次へ(N)> をクリックするとアップグレードが実行されます。";
inline constexpr wchar_t kPhaseAvatar[] = L"◇ アバターモジュールをインストールしています。";
inline constexpr wchar_t kPhaseDownload[] = L"◇ インストールファイルをダウンロードしています。";
inline constexpr wchar_t kPhaseUpgrade[] = L"◇ プログラムのアップグレード中です。";
inline constexpr wchar_t kSizeChecking[] = L"Download file size checking...";
inline constexpr wchar_t kPleaseWait[] = L"Please wait for a monent.";
inline constexpr wchar_t kPositionLabel[] = L"転送位置";
inline constexpr wchar_t kSpeedLabel[] = L"転送速度";
inline constexpr wchar_t kCancelQuestion[] = L"インストールを中止しますか？ ";
inline constexpr char kExeFilter[] = "Excutable files(*.exe)\0*.exe\0";

// Download worker (printf formats: %ls takes converted data; ui/worker_words
// puts them together)
inline constexpr wchar_t kFileMissingFormat[] = L"ファイルが存在しません。\r\n\r\n%ls";
inline constexpr wchar_t kSaveFailedFormat[] = L"ファイルの保存に失敗しました。\r\n\r\n%ls";
inline constexpr wchar_t kDownloadFailedFormat[] =
    L"ファイルのダウンロードが正しく完了しませんでした。\r\n\r\n%ls";
inline constexpr wchar_t kHashMismatchFormat[] =
    L"ダウンロードしたファイルが公開されたものと一致しません。\r\n\r\n%ls";
inline constexpr wchar_t kExtractFailedFormat[] = L"圧縮ファイルの展開に失敗しました。\r\n\r\n%ls";
// the entry's name, then the archive's path
inline constexpr wchar_t kNameNotInCodePageFormat[] =
    L"圧縮ファイルの中に、このパソコンでは使えない文字を含むファイル名があるため、展開できません。\r\n\r\n%"
    L"ls\r\n\r\n%ls";
inline constexpr wchar_t kSplitArchiveFormat[] = L"分割された圧縮ファイルは展開できません。\r\n\r\n%ls";
inline constexpr wchar_t kNoDestinationFormat[] =
    L"インストール先のフォルダが分からないため、圧縮ファイルを展開できません。\r\n\r\n%ls";
// drive ("C:"), then the space needed ("1.3 GB")
inline constexpr wchar_t kDiskSpaceShortFormat[] =
    L"ディスクの空き容量が不足しています。\r\n\r\nドライブ %ls に %ls 以上の空き容量が必要です。";
inline constexpr wchar_t kPositionFormat[] = L"転送位置: %ls";
inline constexpr wchar_t kExtracting[] = L"圧縮ファイルを展開中...";
inline constexpr wchar_t kSourceFormat[] = L"Source: %ls";
inline constexpr wchar_t kTargetFormat[] = L"Target: %ls%ls";
inline constexpr wchar_t kDownloadCompleted[] = L"Download Completed!";
inline constexpr wchar_t kExtractCompleted[] = L"Extract Completed!";

}  // namespace qz::texts
