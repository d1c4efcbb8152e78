// Built-in texts of the two default lists in Japanese, English and Simplified Chinese. The
// English column is the reference; the order of the rows is the order of storage.
#include <array>

#include "app/lang_table.h"
#include "app/language.h"
#include "runs/finding_texts.h"
#include "support/text.h"

namespace lanrove {

namespace {

struct Row {
    const char* section;
    const char* key;
    const char* text[3];  // Japanese, English, Chinese; nullptr: the row is absent there
};

constexpr const char* kProduct = "LANROVE SETUP UTILITY";

const Row kApplicationRows[] = {
    {"APP_WINDOW", "ERROR_TITLE", {kProduct, kProduct, kProduct}},
    {"APP_WINDOW",
     "MULTISTART_WARNING",
     {"すでに起動しています。", "Lanrove Setup utility is already running.\u3000",
      "Lanrove Setup utility 已经启动。"}},
    {"LOGO_WINDOW",
     "SUB_TITLE",
     {"Lanrove Setup utility", "Lanrove Setup utility", "Lanrove Setup utility"}},
};

const Row kMainRows[] = {
    // Main window: title, list columns, status words, buttons.
    {"MAIN_WINDOW", "MAIN_TITLE", {kProduct, kProduct, kProduct}},
    {"MAIN_WINDOW", "MAIN_CAMERA_SEARCH", {"カメラ検索", "Search Cameras", "搜索摄像机"}},
    {"MAIN_WINDOW", "MAIN_CAMERA_NO", {"No.", "No.", "序号"}},
    {"MAIN_WINDOW", "MAIN_CAMERA_STATUS", {"状態", "Status", "状态"}},
    {"MAIN_WINDOW", "MAIN_CAMERA_MODEL", {"機種名", "Model name", "型号"}},
    {"MAIN_WINDOW", "MAIN_CAMERA_MAC_ADDRESS", {"MACアドレス", "MAC Address", "MAC地址"}},
    {"MAIN_WINDOW", "MAIN_CAMERA_IP_ADDRESS", {"IPアドレス", "IP Address", "IP地址"}},
    {"MAIN_WINDOW", "MAIN_CAMERA_PORT", {"ポート", "Port", "端口"}},
    {"MAIN_WINDOW", "MAIN_CAMERA_SSL", {"SSL", "SSL", "SSL"}},
    {"MAIN_WINDOW", "MAIN_CAMERA_TITLE", {"カメラタイトル", "Camera Title", "摄像机标题"}},
    {"MAIN_WINDOW",
     "MAIN_CAMERA_FIRMWARE_VERSION",
     {"ファームウェアバージョン", "Firmware Version", "固件版本"}},
    {"MAIN_WINDOW", "MAIN_CAMERA_TOTAL", {"合計", "TOTAL", "合计"}},
    {"MAIN_WINDOW", "MAIN_CAMERA_NEW", {"新規", "NEW", "新"}},
    {"MAIN_WINDOW", "MAIN_CAMERA_OK", {"OK", "OK", "正常"}},
    {"MAIN_WINDOW", "MAIN_CAMERA_ATTENTION", {"注意", "CAUTION", "注意"}},
    {"MAIN_WINDOW", "MAIN_ON", {"ON", "ON", "开"}},
    {"MAIN_WINDOW", "MAIN_OFF", {"OFF", "OFF", "关"}},
    {"MAIN_WINDOW", "MAIN_AUTO_SETTING", {"自動設定", "Auto setting", "自动设置"}},
    {"MAIN_WINDOW", "MAIN_CUSTOM_SETTING", {"手動設定", "Manual setting", "手动设置"}},
    {"MAIN_WINDOW", "MAIN_IMAGE", {"カメラ画像", "Camera Image", "摄像机图像"}},
    {"MAIN_WINDOW", "MAIN_WEB_BROWSER", {"Webブラウザ", "Web Browser", "网页浏览器"}},
    {"MAIN_WINDOW", "MAIN_FIRM_CHECK", {"F/Wチェック", "F/W Check", "固件检查"}},
    {"MAIN_WINDOW", "MAIN_FIRM_UPLOAD", {"F/W更新", "F/W Update", "固件更新"}},
    {"MAIN_WINDOW", "MAIN_FACTORY_DEFAULT", {"工場出荷設定", "Factory Default", "恢复出厂设置"}},

    {"SEARCH_WINDOW", "SEARCH_TITLE", {kProduct, kProduct, kProduct}},
    {"SEARCH_WINDOW", "SEARCH_SEARCHING", {"検索中...", "Searching...", "正在搜索..."}},
    {"SEARCH_WINDOW", "SEARCH_CANCEL", {"キャンセル", "Cancel", "取消"}},

    {"AUTO_SETTING_WINDOW", "AUTO_SETTING_TITLE", {"自動設定", "AUTO SETTING", "自动设置"}},
    {"AUTO_SETTING_WINDOW",
     "AUTO_SETTING_MESSAGE",
     {"自動設定は工場出荷状態のカメラにのみ適用されます。\n"
      "自動設定を適用する開始アドレスまたは終了アドレスを入力してください。",
      "Auto setup is only applied to cameras with factory setting.\n"
      "Enter a start or end address you want to apply auto setup.",
      "自动设置仅适用于出厂设置状态的摄像机。\n请输入要应用自动设置的起始或结束地址。"}},
    {"AUTO_SETTING_WINDOW",
     "AUTO_SETTING_AUTO_SETUP_RANGE",
     {"自動設定範囲", "Auto setup range", "自动设置范围"}},
    {"AUTO_SETTING_WINDOW", "AUTO_SETTING_FROM", {"開始", "from", "从"}},
    {"AUTO_SETTING_WINDOW", "AUTO_SETTING_TO", {"終了", "to", "到"}},
    {"AUTO_SETTING_WINDOW", "AUTO_SETTING_EXECUTE", {"実行", "Execute", "执行"}},
    {"AUTO_SETTING_WINDOW", "AUTO_SETTING_CANCEL", {"キャンセル", "Cancel", "取消"}},

    {"LOGIN_WINDOW", "LOGIN_TITLE", {"ログイン", "LOGIN", "登录"}},
    {"LOGIN_WINDOW",
     "LOGIN_MESSAGE",
     {"カメラのユーザー名とパスワードを入力してください。",
      "Please input User name and Password of the camera.", "请输入摄像机的用户名和密码。"}},
    {"LOGIN_WINDOW",
     "LOGIN_MESSAGE2",
     {"SSLを使用する場合やポート番号を変更している場合は、下記も設定してください。",
      "Set below as well when using SSL or changed port number.",
      "使用SSL或已更改端口号时，请同时设置以下项目。"}},
    {"LOGIN_WINDOW", "LOGIN_USER_ID", {"ユーザー名", "User name", "用户名"}},
    {"LOGIN_WINDOW", "LOGIN_PASSWORD", {"パスワード", "Password", "密码"}},
    {"LOGIN_WINDOW", "LOGIN_PORT", {"ポート", "Port", "端口"}},
    {"LOGIN_WINDOW", "LOGIN_SSL", {"SSL", "SSL", "SSL"}},
    {"LOGIN_WINDOW", "LOGIN_ON", {"ON", "ON", "开"}},
    {"LOGIN_WINDOW", "LOGIN_OFF", {"OFF", "OFF", "关"}},
    {"LOGIN_WINDOW", "LOGIN_EXECUTE", {"実行", "Execute", "执行"}},
    {"LOGIN_WINDOW", "LOGIN_CANCEL", {"キャンセル", "Cancel", "取消"}},

    {"CUSTOM_SETTING_WINDOW", "CUSTOM_SETTING_TITLE", {"手動設定", "MANUAL SETTING", "手动设置"}},
    {"CUSTOM_SETTING_WINDOW", "CUSTOM_SETTING_NO", {"No.", "No.", "序号"}},
    {"CUSTOM_SETTING_WINDOW", "CUSTOM_SETTING_MODEL", {"機種名", "Model Name", "型号"}},
    {"CUSTOM_SETTING_WINDOW", "CUSTOM_SETTING_IP_ADDRESS", {"IPアドレス", "IP Address", "IP地址"}},
    {"CUSTOM_SETTING_WINDOW",
     "CUSTOM_SETTING_SUBNET_MASK",
     {"サブネットマスク", "Subnet Mask", "子网掩码"}},
    {"CUSTOM_SETTING_WINDOW", "CUSTOM_SETTING_GATEWAY", {"ゲートウェイ", "Gateway", "网关"}},
    {"CUSTOM_SETTING_WINDOW", "CUSTOM_SETTING_PORT", {"ポート番号", "Port Number", "端口号"}},
    {"CUSTOM_SETTING_WINDOW", "CUSTOM_SETTING_SSL", {"SSL", "SSL", "SSL"}},
    {"CUSTOM_SETTING_WINDOW", "CUSTOM_SETTING_ON", {"ON", "ON", "开"}},
    {"CUSTOM_SETTING_WINDOW", "CUSTOM_SETTING_OFF", {"OFF", "OFF", "关"}},
    {"CUSTOM_SETTING_WINDOW",
     "CUSTOM_SETTING_CAMERA_TITLE",
     {"カメラタイトル", "Camera Title", "摄像机标题"}},
    {"CUSTOM_SETTING_WINDOW", "CUSTOM_SETTING_EXECUTE", {"実行", "Execute", "执行"}},
    {"CUSTOM_SETTING_WINDOW", "CUSTOM_SETTING_CANCEL", {"キャンセル", "Cancel", "取消"}},
    {"CUSTOM_SETTING_WINDOW",
     "CUSTOM_SETTING_MSG1",
     {"入力した設定に変更します。よろしいですか？", "Setting you entered is changed. Are you sure?",
      "将更改为您输入的设置。确定吗？"}},
    {"CUSTOM_SETTING_WINDOW",
     "CUSTOM_SETTING_MSG2",
     {"この設定にすると、このPCからカメラにアクセスできなくなります。\n"
      "設定を変更してもよろしいですか？",
      "With this new setting, the camera will not be accessible from your PC.\n"
      "Are you sure to change setting ?",
      "使用此新设置后，将无法从您的电脑访问该摄像机。\n确定要更改设置吗？"}},

    {"RESET_SETTING_WINDOW", "RESET_TITLE", {"工場出荷設定", "Factory Default", "恢复出厂设置"}},
    {"RESET_SETTING_WINDOW",
     "WARNING_MSG",
     {"注意！\n一覧のすべてのカメラが、IPアドレスを含めて\n工場出荷時の設定に戻ります。\n"
      "すべてのカメラを工場出荷時の設定に戻してもよろしいですか？",
      "CAUTION ! \nALL THE CAMERAS IN THE LIST WILL BE RESET TO\n"
      "HE FACTORY DEFAULT, INCLUDING IP ADDRESS.\n"
      "Are you sure to reset ALL the cameras to the facotry default ?",
      "注意！\n列表中的所有摄像机都将恢复为出厂设置，\n包括IP地址。\n"
      "确定要将所有摄像机恢复为出厂设置吗？"}},
    {"RESET_SETTING_WINDOW",
     "SLEEP_MSG",
     {"処理中です...\nしばらくお待ちください。", "In progress...\nPlease wait.",
      "正在处理...\n请稍候。"}},

    {"SETTING_WINDOW", "SETTING_TITLE", {kProduct, kProduct, kProduct}},
    {"SETTING_WINDOW",
     "SETTING_MESSAGE",
     {"更新処理中...\nしばらくお待ちください！", "Renewal process...\nPLEASE WAIT !",
      "正在更新...\n请稍候！"}},
    {"SETTING_WINDOW", "SETTING_CANCEL", {"キャンセル", "Cancel", "取消"}},

    {"FIRMCHECK_WINDOW", "FIRMCHECK_TITLE", {"F/W更新", "F/W Update", "固件更新"}},
    {"FIRMCHECK_WINDOW",
     "SLEEP_MSG",
     {"処理中です...\nしばらくお待ちください。", "In progress...\nPlease wait.",
      "正在处理...\n请稍候。"}},

    {"FIRMUP_WINDOW", "FIRMUP_TITLE", {"ファームウェア更新", "FIRMWARE UPDATE", "固件更新"}},
    {"FIRMUP_WINDOW", "FIRMUP_CAMNO", {"カメラNo.", "Camera No.", "摄像机编号"}},
    {"FIRMUP_WINDOW", "FIRMUP_STS", {"状態", "Status", "状态"}},
    {"FIRMUP_WINDOW", "FIRMUP_EXECUTE", {"実行", "Execute", "执行"}},
    {"FIRMUP_WINDOW", "FIRMUP_CANCEL", {"キャンセル", "Cancel", "取消"}},
    {"FIRMUP_WINDOW", "FIRMUP_CLOSE", {"閉じる", "Close", "关闭"}},
    {"FIRMUP_WINDOW", "FIRMUP_MSG01", {"ファームウェア更新", "Firmware Update", "固件更新"}},
    {"FIRMUP_WINDOW",
     "FIRMUP_MSG02",
     {"ファームウェアがありません。", "No firmware.", "没有固件。"}},
    {"FIRMUP_WINDOW",
     "FIRMUP_MSG03",
     {"ファームウェアを転送中です。\n%d/%dbyte", "Transferring firmware.\n%d/%dbyte",
      "正在传输固件。\n%d/%d字节"}},
    {"FIRMUP_WINDOW", "FIRMUP_MSG04", {"更新中です。", "Update in progress.", "正在更新。"}},
    {"FIRMUP_WINDOW",
     "FIRMUP_MSG05",
     {"カメラを再起動中です。", "Rebooting camera.", "正在重启摄像机。"}},
    {"FIRMUP_WINDOW",
     "FIRMUP_MSG06",
     {"更新が完了しました。", "Updating completed.", "更新已完成。"}},
    {"FIRMUP_WINDOW",
     "FIRMUP_CANCELMSG",
     {"キャンセル中です。", "Cancel in progress.", "正在取消。"}},
    {"FIRMUP_WINDOW",
     "FIRMUP_ERRMSG",
     {"ファームウェア更新中にエラーが発生しました。STS=%d",
      "An error has occurred during firmware updating. STS=%d", "固件更新过程中发生错误。STS=%d"}},
    {"FIRMUP_WINDOW",
     "FIRMUP_WARNINGMSG",
     {"カメラがSD/HDDに録画中のため、F/W更新を行えません。\n"
      "録画を停止してF/W更新を行いますか？\n録画は約1時間停止する場合があります。",
      "F/W update is not available when the camera is recording on SD/HDD.\n"
      "Do you want to stop recording, and update the F/W ?\n"
      "Recording may be stopped for about 1H.",
      "摄像机正在向SD/HDD录像时无法更新固件。\n是否停止录像并更新固件？\n"
      "录像可能会停止约1小时。"}},
    {"FIRMUP_WINDOW", "FIRMSTS_NEW", {"最新", "LATEST", "最新"}},
    {"FIRMUP_WINDOW", "FIRMSTS_EFFECT", {"更新可能", "Update ready", "可更新"}},
    {"FIRMUP_WINDOW", "FIRMSTS_INVALID", {"ファームウェアなし", "No firmware", "无固件"}},
    {"FIRMUP_WINDOW", "UPSTS_ERROR", {"エラー", "Error", "错误"}},
    {"FIRMUP_WINDOW", "UPSTS_EXC", {"処理中...", "In progress...", "正在处理..."}},
    {"FIRMUP_WINDOW", "UPSTS_FAILD", {"失敗", "Failed", "失败"}},
    {"FIRMUP_WINDOW", "UPSTS_END", {"完了", "Completed", "完成"}},
    {"FIRMUP_WINDOW", "UPSTS_CANCEL", {"キャンセル", "Cancel", "取消"}},

    // The splash takes its title from the application list; Japanese has no row here.
    {"LOGO_WINDOW", "SUB_TITLE", {nullptr, kProduct, kProduct}},

    {"ERROR_WINDOW", "ERROR_TITLE", {kProduct, kProduct, kProduct}},
    {"ERROR_WINDOW", "ERROR_TITLE_ERROR", {"エラー", "Err", "错误"}},
    {"ERROR_WINDOW",
     "ERROR_FIREWALL",
     {"Lanrove Setupを実行するには、パーソナルファイアウォールを一時的に無効にしてください。\n"
      "また、PCがネットワークに接続されていること、\n"
      "PCのIPアドレスとデフォルトゲートウェイが正しく設定されていることを確認してください。",
      "To execute Lanrove setup, disable the personal firewall temporarily.\n"
      "Also, make sure that the PC is connected to the network, and\n"
      "IP Address and Default Gateway are correctly set to the PC.",
      "要运行Lanrove Setup，请暂时禁用个人防火墙。\n"
      "另外，请确认电脑已连接到网络，\n并且电脑的IP地址和默认网关设置正确。"}},
    {"ERROR_WINDOW",
     "ERROR_ID_PASSWORD",
     {"入力内容が正しくありません。\n確認して正しい値を入力し直してください。",
      "Incorrect data entered.\nPlease check and re-enter the correct value.",
      "输入的数据不正确。\n请检查并重新输入正确的值。"}},
    {"ERROR_WINDOW",
     "ERROR_IP_ADDRESS",
     {"IPアドレスが重複しているため接続できません。\n"
      "自動設定を行うか、IPアドレスを個別に手動設定してください。",
      "Unable to connect because of overlapping IP addresses.\n"
      "Apply auto setup or manually set up individual IP addresses.",
      "由于IP地址重复，无法连接。\n请执行自动设置，或逐个手动设置IP地址。"}},
    {"ERROR_WINDOW",
     "ERROR_SEARCH",
     {"カメラが見つかりませんでした。カメラの接続を確認してください。",
      "Could not find a camera.Please check the camera connection.",
      "未找到摄像机。请检查摄像机的连接。"}},
    {"ERROR_WINDOW",
     "ERROR_SUBNET_MASK",
     {"「サブネットマスク」の設定を確認してください。",
      "Please confirm the \"SUBNET MASK\" setting\uFF0E", "请确认“子网掩码”设置。"}},
    {"ERROR_WINDOW",
     "ERROR_CONNECT",
     {"接続エラー！\nカメラの設定を確認してください。",
      "CONNECT ERROR!\nPlease make sure camera setup.", "连接错误！\n请确认摄像机设置。"}},
    {"ERROR_WINDOW",
     "ERROR_IP",
     {"IPアドレスが正しくありません。", "Invalid IP Address.", "IP地址无效。"}},
    {"ERROR_WINDOW", "ERROR_OK", {"OK", "OK", "确定"}},
};

// Menus and windows beyond the classic lists: the address plan, the list's CSV export, the
// doctor and the handover report. Kept apart so that the classic lists stay as they are.
const Row kAddedRows[] = {
    {"FIRMUP_WINDOW",
     "UPSTS_UNVERIFIED",
     {"送信済み（未確認）", "Sent, not verified", "已发送，未验证"}},
    // Where each camera's update stands, beside its status text in the list.
    {"FIRMUP_WINDOW", "STAGE_WAITING", {"順番待ち", "waiting for its turn", "等待轮到"}},
    {"FIRMUP_WINDOW", "STAGE_PREPARING", {"準備中", "preparing", "准备中"}},
    {"FIRMUP_WINDOW", "STAGE_SENDING", {"送信中 %1%", "sending %1%", "发送中 %1%"}},
    {"FIRMUP_WINDOW", "STAGE_WRITING", {"書き込み中", "writing", "写入中"}},
    {"FIRMUP_WINDOW", "STAGE_RESTARTING", {"再起動中", "restarting", "重启中"}},
    {"FIRMUP_WINDOW", "STAGE_BACK", {"復帰・確認中", "back, checking", "已恢复，检查中"}},
    {"FIRMUP_WINDOW", "STAGE_RETRY", {"再試行 %1", "retry %1", "重试 %1"}},
    {"FIRMUP_WINDOW",
     "FIRMUP_SUMMARY",
     {"ファームウェア更新の結果（%4台中）: 完了 %1、失敗 %2、送信済み未確認 %3",
      "Firmware update of %4 camera(s): %1 completed, %2 failed, %3 sent but not verified.",
      "固件更新结果（共%4台）：完成 %1，失败 %2，已发送未验证 %3"}},
    // Why the manual setting asks for the camera's account.
    {"LOGIN_WINDOW",
     "LOGIN_WHY_REFUSED",
     {"カメラが既定のアカウントを拒否しました。カメラのユーザー名とパスワードを入力してください。",
      "The camera refused the default account: enter the camera's user name and password.",
      "摄像机拒绝了默认帐户：请输入摄像机的用户名和密码。"}},
    {"LOGIN_WINDOW",
     "LOGIN_WHY_OUTSIDE",
     {"カメラがこのPCのサブネットの外にあるため、アカウントをここから確認できません。"
      "表示のアカウントが設定と一緒に送信されます。",
      "The camera is outside this PC's subnet, so its account cannot be tested from here: the "
      "account shown is sent with the setting.",
      "摄像机不在本电脑的子网内，无法在此验证帐户：显示的帐户将随设置一起发送。"}},
    {"LOGIN_WINDOW",
     "LOGIN_WHY_STATUS",
     {"カメラの状態が「注意」のため、アカウントを確認してください。",
      "The camera's status is CAUTION: check the account that the setting will use.",
      "摄像机状态为“注意”：请确认设置将使用的帐户。"}},
    // Auto setting's question before anything is sent: how many NEW cameras, which range.
    {"AUTO_SETTING_WINDOW",
     "AUTO_SETTING_CONFIRM",
     {"%1台の新規カメラに %2 から %3 までのアドレスを設定します（%4）。",
      "%1 NEW camera(s) will get addresses from %2 to %3 on %4.",
      "将为%1台新摄像机设置从 %2 到 %3 的地址（%4）。"}},
    {"AUTO_SETTING_WINDOW",
     "AUTO_SETTING_SUMMARY",
     {"自動設定: 新規カメラ%2台中%1台にアドレスを設定しました（拒否 %3台）。",
      "Auto setting: %1 of %2 NEW camera(s) got their addresses; %3 refused.",
      "自动设置：%2台新摄像机中有%1台已设置地址（拒绝 %3台）。"}},
    {"PLAN_WINDOW",
     "PLAN_MENU",
     {"アドレスプランを適用...", "Apply address plan...", "应用地址计划..."}},
    {"PLAN_WINDOW", "PLAN_TITLE", {"アドレスプラン", "Address plan", "地址计划"}},
    {"PLAN_WINDOW",
     "PLAN_MESSAGE",
     {"%2行中%1行を設定します。「実行」を押すまで何も送信されません。",
      "%1 of %2 rows will be set. Nothing is sent until you press Execute.",
      "将设置%2行中的%1行。按下“执行”之前不会发送任何内容。"}},
    {"PLAN_WINDOW",
     "PLAN_CONFIRM_TITLE",
     {"アドレスプランの適用", "Apply the address plan", "应用地址计划"}},
    {"PLAN_WINDOW",
     "PLAN_CONFIRM_COUNT",
     {"%2行中%1行を設定します。", "%1 of %2 rows will be set.", "将设置%2行中的%1行。"}},
    {"PLAN_WINDOW",
     "PLAN_REPORT",
     {"%2行中%1行を設定しました。", "%1 of %2 rows were set.", "已设置%2行中的%1行。"}},
    {"PLAN_WINDOW", "PLAN_OPEN", {"アドレスプランを開く", "Open address plan", "打开地址计划"}},
    {"PLAN_WINDOW",
     "PLAN_FILTER",
     {"アドレスプラン (*.csv *.txt);;すべてのファイル (*)",
      "Address plans (*.csv *.txt);;All files (*)", "地址计划 (*.csv *.txt);;所有文件 (*)"}},
    {"PLAN_WINDOW", "PLAN_LINE", {"行", "Line", "行"}},
    {"PLAN_WINDOW", "PLAN_RESULT", {"結果", "Result", "结果"}},
    {"PLAN_WINDOW", "PLAN_NOT_FOUND", {"見つかりません", "not found", "未找到"}},
    {"PLAN_WINDOW", "PLAN_READY", {"設定可能", "ready", "可设置"}},
    {"PLAN_WINDOW", "PLAN_REFUSED", {"拒否", "refused", "已拒绝"}},
    {"PLAN_WINDOW", "PLAN_SET", {"設定済み", "set", "已设置"}},
    {"PLAN_WINDOW", "PLAN_CAUTION", {"注意", "CAUTION", "注意"}},
    {"PLAN_WINDOW", "PLAN_UNCHANGED", {"変更なし", "unchanged", "无变化"}},
    {"PLAN_WINDOW",
     "PLAN_BAD_FILE",
     {"このアドレスプランは使用できません:\n%1", "The address plan cannot be used:\n%1",
      "无法使用此地址计划：\n%1"}},
    {"PLAN_WINDOW", "PLAN_OK", {"OK", "OK", "确定"}},

    {"LIST_EXPORT",
     "SAVE_LIST",
     {"一覧をCSVで保存...", "Save List as CSV...", "将列表保存为CSV..."}},
    {"LIST_EXPORT", "FILE_KIND", {"CSVファイル (*.csv)", "CSV files (*.csv)", "CSV文件 (*.csv)"}},
    {"LIST_EXPORT",
     "SAVE_FAILED",
     {"一覧を保存できませんでした。", "The list could not be saved.", "无法保存列表。"}},

    {"DOCTOR_WINDOW", "DIAGNOSE", {"診断", "Diagnose", "诊断"}},
    {"DOCTOR_WINDOW", "DIAGNOSE_ALL", {"すべて診断...", "Diagnose all...", "全部诊断..."}},
    {"DOCTOR_WINDOW", "DIAGNOSE_ALL_TITLE", {"すべて診断", "Diagnose all", "全部诊断"}},
    {"DOCTOR_WINDOW",
     "RUNNING",
     {"診断中です...\nしばらくお待ちください。", "Diagnosing...\nPlease wait.",
      "正在诊断...\n请稍候。"}},
    {"DOCTOR_WINDOW",
     "NO_FINDINGS",
     {"問題は見つかりませんでした。PCと%1台のカメラは正常です。",
      "No findings: the PC and %1 camera(s) look fine.", "未发现问题：电脑和%1台摄像机均正常。"}},
    {"DOCTOR_WINDOW", "SAVE_REPORT", {"レポートを保存...", "Save report...", "保存报告..."}},
    {"DOCTOR_WINDOW", "SAVE_REPORT_TITLE", {"レポートを保存", "Save report", "保存报告"}},
    {"DOCTOR_WINDOW",
     "REPORT_FILTER",
     {"Webページ (*.html);;PDF文書 (*.pdf)", "Web page (*.html);;PDF document (*.pdf)",
      "网页 (*.html);;PDF文档 (*.pdf)"}},
    {"DOCTOR_WINDOW",
     "SAVE_REPORT_PICTURES",
     {"ライブ画像付きでレポートを保存...", "Save report with live pictures...",
      "保存带实时图像的报告..."}},
    {"DOCTOR_WINDOW",
     "REPORT_PICTURES",
     {"ライブ画像を取得しています: %1 / %2 台", "Fetching live pictures: %1 of %2 cameras",
      "正在获取实时图像：%1 / %2 台"}},
    {"DOCTOR_WINDOW",
     "REPORT_SAVED",
     {"レポートを保存しました:", "The report was saved:", "报告已保存："}},
    {"MAIN_LIST", "MAKER", {"メーカー", "Maker", "制造商"}},
    {"BROWSER_WINDOW", "URL_TITLE", {"Webブラウザー", "Web Browser", "Web浏览器"}},
    {"BROWSER_WINDOW",
     "NO_BROWSER",
     {"Webブラウザーを開けませんでした（既定のブラウザーが設定されていません）。"
      "次のアドレスをブラウザーに入力してください:",
      "No web browser could be opened (no default browser is set up). Enter this address in a "
      "browser:",
      "无法打开Web浏览器（未设置默认浏览器）。请在浏览器中输入以下地址："}},
    {"BROWSER_WINDOW", "COPY", {"コピー", "Copy", "复制"}},
    {"BROWSER_WINDOW", "CLOSE", {"閉じる", "Close", "关闭"}},
    {"DOCTOR_WINDOW",
     "REPORT_FAILED",
     {"レポートを保存できませんでした。", "The report could not be saved.", "无法保存报告。"}},

    // The handover report's headings and page line.
    {"REPORT", "TITLE", {"現場引き渡し報告書", "Site handover report", "现场交接报告"}},
    {"REPORT", "SITE", {"現場", "Site", "现场"}},
    {"REPORT", "WHEN", {"日時", "Date and time", "日期和时间"}},
    {"REPORT", "ADAPTER", {"PC のアダプター", "PC adapter", "PC 网络适配器"}},
    {"REPORT", "COUNTERS", {"カウンター", "Counters", "计数"}},
    {"REPORT", "TOTAL", {"合計", "Total", "合计"}},
    {"REPORT", "NEW", {"新規", "NEW", "新"}},
    {"REPORT", "OK", {"OK", "OK", "OK"}},
    {"REPORT", "CAUTION", {"注意", "CAUTION", "注意"}},
    {"REPORT", "PC_FINDINGS", {"PC の診断結果", "PC findings", "PC 诊断结果"}},
    {"REPORT", "NONE", {"なし", "None", "无"}},
    {"REPORT", "CAMERAS", {"カメラ", "Cameras", "摄像机"}},
    {"REPORT", "NO", {"No.", "No.", "No."}},
    {"REPORT", "STATUS", {"状態", "Status", "状态"}},
    {"REPORT", "MODEL", {"機種", "Model", "型号"}},
    {"REPORT", "MAC", {"MAC アドレス", "MAC address", "MAC 地址"}},
    {"REPORT", "IP", {"IP アドレス", "IP address", "IP 地址"}},
    {"REPORT", "PORT", {"ポート", "Port", "端口"}},
    {"REPORT", "SSL", {"SSL", "SSL", "SSL"}},
    {"REPORT", "CAM_TITLE", {"タイトル", "Title", "标题"}},
    {"REPORT", "FIRMWARE", {"ファームウェア", "Firmware", "固件"}},
    {"REPORT", "FINDINGS", {"診断結果", "Findings", "诊断结果"}},
    {"REPORT", "PICTURE", {"画像", "Picture", "图像"}},
    {"REPORT", "CHANGES", {"変更履歴", "Changes made", "所做的更改"}},
    {"REPORT", "TIME", {"時刻", "Time", "时间"}},
    {"REPORT", "KIND", {"種類", "Kind", "类型"}},
    {"REPORT", "BEFORE", {"変更前", "Before", "更改前"}},
    {"REPORT", "AFTER", {"変更後", "After", "更改后"}},
    {"REPORT", "RESULT", {"結果", "Result", "结果"}},
    {"REPORT", "NO_CHANGES", {"本日の変更はありません", "No changes today", "今天没有更改"}},
    {"REPORT", "PAGE", {"%1 / %2 ページ", "Page %1 of %2", "第 %1 页，共 %2 页"}},

    {"TRUST_WINDOW",
     "CERT_CHANGED_TITLE",
     {"カメラの証明書が変わりました", "Camera certificate changed", "摄像机证书已更改"}},
    {"TRUST_WINDOW",
     "CERT_CHANGED",
     {"カメラ %1 が別のHTTPS証明書を示しました。\n登録済み SHA-256: %2\n今回: %3\n\n"
      "カメラには何も送信していません。カメラを初期化した場合や証明書を更新した場合だけ"
      "新しい証明書を信頼してください。信頼してやり直しますか?",
      "Camera %1 presented a different HTTPS certificate.\nPinned SHA-256: %2\nNow: %3\n\n"
      "Nothing was sent to it. Trust the new certificate only if the camera was reset or its "
      "certificate renewed. Trust it and try again?",
      "摄像机 %1 出示了不同的HTTPS证书。\n已登记 SHA-256：%2\n当前：%3\n\n"
      "未向其发送任何内容。仅当摄像机已复位或其证书已更新时才信任新证书。是否信任并重试？"}},

    // Beside every IP-setting confirmation: the setting datagram carries the account.
    {"CUSTOM_SETTING_WINDOW",
     "ACCOUNT_IN_CLEAR",
     {"注意: この設定ではカメラのユーザー名とパスワードが暗号化されずにネットワーク上を流れます。"
      "設置が終わったらカメラのパスワードを変更してください。",
      "Note: this setting sends the camera's user name and password unencrypted over the "
      "network segment. Change the camera's password after commissioning.",
      "注意：此设置会将摄像机的用户名和密码以未加密方式在网段上传送。调试完成后请更改摄像机的密码"
      "。"}},
};

template <std::size_t N>
DefaultList buildList(const Row (&rows)[N], int column) {
    DefaultList list;
    list.reserve(N + 1);
    for (const Row& r : rows) {
        if (r.text[column] == nullptr) continue;
        list.push_back({fromUtf8(r.section), fromUtf8(r.key), fromUtf8(r.text[column])});
    }
    const std::u16string end(kEndMarker);
    list.push_back({end, end, end});
    return list;
}

// The added rows, then the doctor's finding texts.
DefaultList buildAdded(int column) {
    DefaultList list = buildList(kAddedRows, column);
    const LangEntry end = list.back();
    list.pop_back();
    const std::u16string section = fromUtf8(kFindingTextSection);
    for (const FindingTextRow& r : findingTextRows())
        list.push_back({section, fromUtf8(r.key), fromUtf8(r.text[column])});
    list.push_back(end);
    return list;
}

int validColumn(int column) {
    return column == kColumnJapanese || column == kColumnChinese ? column : kColumnEnglish;
}

}  // namespace

const DefaultList& applicationDefaults(int column) {
    static const std::array<DefaultList, 3> lists = {buildList(kApplicationRows, 0),
                                                     buildList(kApplicationRows, 1),
                                                     buildList(kApplicationRows, 2)};
    return lists[validColumn(column)];
}

const DefaultList& mainDefaults(int column) {
    static const std::array<DefaultList, 3> lists = {
        buildList(kMainRows, 0), buildList(kMainRows, 1), buildList(kMainRows, 2)};
    return lists[validColumn(column)];
}

const DefaultList& addedDefaults(int column) {
    static const std::array<DefaultList, 3> lists = {buildAdded(0), buildAdded(1), buildAdded(2)};
    return lists[validColumn(column)];
}

}  // namespace lanrove
