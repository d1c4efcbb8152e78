#include "runs/finding_texts.h"

#include <iterator>

namespace lanrove {

namespace {

// Japanese, English, Chinese. Evidence texts have no closing full stop: the report and the
// window put one between evidence and fix.
const FindingTextRow kRows[] = {
    // The PC.
    {"PC_NO_ADDRESS",
     {"動作中のネットワークアダプターに IPv4 アドレスがありません",
      "no network adapter that is up has an IPv4 address", "没有已启用的网络适配器拥有 IPv4 地址"}},
    {"PC_NO_ADDRESS_FIX",
     {"PC をカメラのネットワークに接続し、アダプターに IPv4 アドレスを設定してください。",
      "Connect the PC to the camera network and give its adapter an IPv4 address.",
      "请将电脑连接到摄像机网络，并为其适配器设置 IPv4 地址。"}},
    {"PC_ICMP_BLOCKED",
     {"net.ipv4.ping_group_range は \"%1\" で、raw ICMP ソケットも開けません",
      "net.ipv4.ping_group_range is \"%1\" and no raw ICMP socket may be opened",
      "net.ipv4.ping_group_range 为 \"%1\"，且无法打开 raw ICMP 套接字"}},
    {"UNREADABLE", {"読み取れません", "unreadable", "无法读取"}},
    {"PC_ICMP_BLOCKED_FIX",
     {"root で実行するか、プログラムに CAP_NET_RAW を与えるか、net.ipv4.ping_group_range "
      "を広げてください (sysctl -w net.ipv4.ping_group_range=\"0 2147483647\")。",
      "Run as root, give the program CAP_NET_RAW, or widen net.ipv4.ping_group_range "
      "(sysctl -w net.ipv4.ping_group_range=\"0 2147483647\").",
      "请以 root 运行、为程序授予 CAP_NET_RAW，或放宽 net.ipv4.ping_group_range"
      "（sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"）。"}},
    {"PC_GATEWAY_SILENT",
     {"%2 のデフォルトゲートウェイ %1 へのエコー: %3", "echo to the default gateway %1 on %2: %3",
      "%2 上对默认网关 %1 的回显：%3"}},
    {"PC_GATEWAY_FAILED",
     {"%2 のデフォルトゲートウェイ %1 へのエコー: 失敗 (%3)",
      "echo to the default gateway %1 on %2: failed (%3)", "%2 上对默认网关 %1 的回显：失败 (%3)"}},
    {"ECHO_TIMED_OUT",
     {"時間内に応答なし (11010)", "no reply in time (11010)", "未及时应答 (11010)"}},
    {"ECHO_NET_UNREACHABLE",
     {"ネットワークに到達できません (11002)", "network unreachable (11002)", "网络不可达 (11002)"}},
    {"ECHO_HOST_UNREACHABLE",
     {"ホストに到達できません (11003)", "host unreachable (11003)", "主机不可达 (11003)"}},
    {"PC_GATEWAY_SILENT_FIX",
     {"%1 のゲートウェイアドレスと、ゲートウェイの電源と接続を確認してください。",
      "Check the gateway address of %1 and that the gateway is switched on and connected.",
      "请检查 %1 的网关地址，并确认网关已开机并已连接。"}},
    {"PC_PORT_BUSY",
     {"UDP ポート 10000 をバインドできません: %1", "UDP port 10000 cannot be bound: %1",
      "无法绑定 UDP 端口 10000：%1"}},
    {"PC_PORT_BUSY_FIX",
     {"UDP ポート 10000 を使っている別のプログラム (ss -uapn 'sport = :10000' "
      "で分かります) を終了してから、もう一度検索してください。",
      "Close the other program that holds UDP port 10000 (ss -uapn 'sport = :10000' names "
      "it), then search again.",
      "请关闭占用 UDP 端口 10000 的其他程序（ss -uapn 'sport = :10000' 可显示），然后重新搜索。"}},
    {"PC_SHARED_SUBNET",
     {"%1 (%2) と %3 (%4) が同じサブネットにあります", "%1 (%2) and %3 (%4) are on one subnet",
      "%1 (%2) 和 %3 (%4) 位于同一子网"}},
    {"PC_SHARED_SUBNET_FIX",
     {"2 つのアダプターのどちらかを外すか、アドレスを変えてください。応答はどちらにも届く"
      "可能性があります。",
      "Disconnect or readdress one of the two adapters; replies may come in on either of them.",
      "请断开其中一个适配器或更改其地址；应答可能从任一适配器进入。"}},

    // The cameras.
    {"CAMERAS_FACTORY_FRESH",
     {"工場出荷状態のカメラ %1 台が %2 にあります: 自動設定でアドレスを割り当ててください",
      "%1 factory-fresh cameras at %2: give them addresses with Auto setting",
      "%1 台出厂状态的摄像机位于 %2：请用自动设置为其分配地址"}},
    {"CAMERAS_FACTORY_FRESH_FIX",
     {"PC のサブネットの空きアドレス範囲を指定して自動設定を実行してください。",
      "Run Auto setting with a range of free addresses of the PC's subnet.",
      "请使用电脑子网中的空闲地址范围运行自动设置。"}},
    {"CAMERA_OUTSIDE_SUBNET",
     {"%1 はどのアダプターのサブネットにも入っていません (%2: %3/%4)",
      "%1 is outside the subnet of every adapter (%2: %3/%4)",
      "%1 不在任何适配器的子网内（%2：%3/%4）"}},
    {"CAMERA_OUTSIDE_SUBNET_FIX_RUN_OR_MOVE_TO",
     {"当面は PC で \"%1\" を実行するか、手動設定でカメラを %2 (PC "
      "のサブネットで応答するホストがないアドレス) に移してください。",
      "Either run \"%1\" on the PC for now, or move the camera with Manual setting to %2, "
      "which no host answers in the PC's subnet.",
      "可暂时在电脑上运行 \"%1\"，或用手动设置将摄像机移到 %2（电脑子网中没有主机应答的地址）。"}},
    {"CAMERA_OUTSIDE_SUBNET_FIX_RUN_OR_MOVE",
     {"当面は PC で \"%1\" を実行するか、手動設定でカメラを PC のサブネットに移してください。",
      "Either run \"%1\" on the PC for now, or move the camera into the PC's subnet with "
      "Manual setting.",
      "可暂时在电脑上运行 \"%1\"，或用手动设置将摄像机移入电脑的子网。"}},
    {"CAMERA_OUTSIDE_SUBNET_FIX_MOVE_TO",
     {"手動設定でカメラを %1 (PC のサブネットで応答するホストがないアドレス) に移してください。",
      "Move the camera with Manual setting to %1, which no host answers in the PC's subnet.",
      "请用手动设置将摄像机移到 %1（电脑子网中没有主机应答的地址）。"}},
    {"CAMERA_OUTSIDE_SUBNET_FIX_MOVE",
     {"手動設定でカメラを PC のサブネットに移してください。",
      "Move the camera into the PC's subnet with Manual setting.",
      "请用手动设置将摄像机移入电脑的子网。"}},
    {"CAMERA_SHARED_ADDRESS",
     {"%1 は %2 も使っています", "%1 is also used by %2", "%1 也被 %2 使用"}},
    {"CAMERA_SHARED_ADDRESS_FIX",
     {"自動設定または手動設定で、カメラごとに別のアドレスを設定してください。",
      "Give each camera its own address with Auto setting or Manual setting.",
      "请用自动设置或手动设置为每台摄像机分配各自的地址。"}},
    {"CAMERA_HOST_ADDRESS_PC",
     {"%1 はこの PC のアダプター %2 のアドレスでもあります",
      "%1 is also the address of this PC's adapter %2", "%1 也是本电脑适配器 %2 的地址"}},
    {"CAMERA_HOST_ADDRESS_PC_FIX",
     {"手動設定または自動設定でカメラに空きアドレスを設定するか、%1 "
      "のアドレスを変更してください。",
      "Give the camera a free address with Manual setting or Auto setting, or change the "
      "address of %1.",
      "请用手动设置或自动设置为摄像机分配空闲地址，或更改 %1 的地址。"}},
    {"CAMERA_HOST_ADDRESS_ARP",
     {"%1 の ARP に %2 個のハードウェアアドレス (%3) "
      "が応答し、検索で見つかったカメラではないものが含まれています: %4",
      "ARP for %1 was answered by %2 hardware addresses (%3), not all of them cameras found "
      "by the search: %4",
      "%1 的 ARP 有 %2 个硬件地址应答（%3），其中并非都是搜索到的摄像机：%4"}},
    {"CAMERA_HOST_ADDRESS_ARP_FIX",
     {"手動設定または自動設定でカメラに空きアドレスを設定するか、ハードウェアアドレス %2 "
      "のホストから %1 を外してください。",
      "Give the camera a free address with Manual setting or Auto setting, or remove %1 from "
      "the host with hardware address %2.",
      "请用手动设置或自动设置为摄像机分配空闲地址，或从硬件地址为 %2 的主机上移除 %1。"}},
    {"CAMERA_FOREIGN_GATEWAY",
     {"ゲートウェイ %1 がカメラ自身のサブネット %2 の外にあります",
      "gateway %1 is outside the camera's own subnet %2", "网关 %1 不在摄像机自身的子网 %2 内"}},
    {"CAMERA_FOREIGN_GATEWAY_FIX",
     {"手動設定で %1 内のゲートウェイ (または 0.0.0.0) を設定してください。",
      "Set a gateway inside %1 (or 0.0.0.0) with Manual setting.",
      "请用手动设置设定 %1 内的网关（或 0.0.0.0）。"}},
    {"CAMERA_SPOOFED_REPLY",
     {"カメラの MAC が 1 回の検索に 2 つのアドレス (%1) から応答しました。ログインは送りません",
      "the camera's MAC answered one search from two addresses (%1); no login is sent to it",
      "摄像机的 MAC 在一次搜索中从两个地址（%1）应答；不向其发送登录信息"}},
    {"CAMERA_SPOOFED_REPLY_FIX",
     {"この MAC で応答している 2 台目の機器を探してから (セグメント上の別のホストが"
      "カメラになりすましている可能性があります)、もう一度検索してください。",
      "Find the second device that answers with this MAC (another host on the segment may be "
      "impersonating the camera), then search again.",
      "请找出以此 MAC 应答的第二台设备（网段上的其他主机可能在冒充该摄像机），然后重新搜索。"}},
    {"CAMERA_HTTP_CLOSED",
     {"%1 への TCP 接続が拒否されました", "TCP connection to %1 refused",
      "到 %1 的 TCP 连接被拒绝"}},
    {"CAMERA_HTTP_CLOSED_FIX",
     {"カメラの Web ポートを再び開いてください (電源を入れ直すか、手動設定で実際に使っている"
      "ポートを設定してください)。",
      "Open the camera's web port again (power-cycle it, or set the port it really serves "
      "with Manual setting).",
      "请重新打开摄像机的 Web 端口（重新上电，或用手动设置设定其实际使用的端口）。"}},
    {"CAMERA_HTTP_SILENT",
     {"%1 への TCP 接続に 3 秒以内の応答がありません",
      "TCP connection to %1 got no answer within 3 s", "到 %1 的 TCP 连接在 3 秒内无应答"}},
    {"CAMERA_HTTP_UNREACHABLE",
     {"%1 への TCP 接続が到達できません", "TCP connection to %1 unreachable",
      "到 %1 的 TCP 连接不可达"}},
    {"CAMERA_HTTP_SILENT_FIX",
     {"PC とカメラの間のファイアウォールやスイッチがポート %1 "
      "を遮断していないか確認し、カメラの電源を入れ直してください。",
      "Check that no firewall or switch filters port %1 between the PC and the camera, then "
      "power-cycle the camera.",
      "请检查电脑与摄像机之间没有防火墙或交换机过滤端口 %1，然后重新为摄像机上电。"}},
    {"CAMERA_NO_HTTP",
     {"ポート %1 は接続を受け付けますが、HTTP にも HTTPS にも応答しません",
      "port %1 accepts connections but answered neither HTTP nor HTTPS",
      "端口 %1 接受连接，但对 HTTP 和 HTTPS 均无应答"}},
    {"CAMERA_NO_HTTP_FIX",
     {"カメラの電源を入れ直してください。それでも応答しない場合は工場出荷設定に戻してください。",
      "Power-cycle the camera; if it stays silent, reset it to factory settings.",
      "请重新为摄像机上电；如仍无应答，请恢复出厂设置。"}},
    {"CAMERA_SSL_ON_SERVES_HTTP",
     {"カメラは SSL オンと報告していますが、ポート %1 は HTTP で応答し (ステータス %2)、"
      "HTTPS を拒否しました",
      "the camera reports SSL on, but port %1 answered plain HTTP (status %2) and refused "
      "HTTPS",
      "摄像机报告 SSL 为开，但端口 %1 以普通 HTTP 应答（状态 %2）并拒绝了 HTTPS"}},
    {"CAMERA_SSL_ON_SERVES_HTTP_FIX",
     {"このカメラの SSL を手動設定でオフにして、通知内容と実際の動作を一致させてください。",
      "Set SSL to off for this camera with Manual setting so that its announcement matches "
      "what it serves.",
      "请用手动设置将此摄像机的 SSL 设为关，使其通告与实际提供的服务一致。"}},
    {"CAMERA_SSL_OFF_SERVES_HTTPS",
     {"カメラは SSL オフと報告していますが、ポート %1 は HTTPS で応答し (ステータス %2)、"
      "HTTP を拒否しました",
      "the camera reports SSL off, but port %1 answered HTTPS (status %2) and refused plain "
      "HTTP",
      "摄像机报告 SSL 为关，但端口 %1 以 HTTPS 应答（状态 %2）并拒绝了普通 HTTP"}},
    {"CAMERA_SSL_OFF_SERVES_HTTPS_FIX",
     {"このカメラの SSL を手動設定でオンにして、通知内容と実際の動作を一致させてください。",
      "Set SSL to on for this camera with Manual setting so that its announcement matches "
      "what it serves.",
      "请用手动设置将此摄像机的 SSL 设为开，使其通告与实际提供的服务一致。"}},
    {"CAMERA_LEGACY_TLS",
     {"カメラの HTTPS は古いセキュリティしか提供しません: %1",
      "the camera's HTTPS offers only old security: %1", "摄像机的 HTTPS 仅提供旧的安全机制：%1"}},
    {"CAMERA_LEGACY_TLS_FIX",
     {"今は対処不要です。固定された証明書が接続を守っています。ファームウェア更新でより強い "
      "HTTPS になる場合があります。",
      "Nothing to do for now: its pinned certificate protects the connection; a firmware "
      "update may bring stronger HTTPS.",
      "目前无需处理：已固定的证书保护着连接；固件更新可能带来更强的 HTTPS。"}},
    {"CAMERA_LOGIN_REFUSED",
     {"%1 で既定のログインが 401 で拒否されました", "the default login was answered with 401 on %1",
      "%1 对默认登录返回了 401"}},
    {"CAMERA_LOGIN_REFUSED_FIX",
     {"認証情報が変更されています。求められたら現場のユーザー名とパスワードを入力するか、"
      "カメラを工場出荷設定に戻してください。",
      "The credentials were changed: enter the site's user name and password when asked, or "
      "reset the camera to factory settings.",
      "凭据已被更改：请在提示时输入现场的用户名和密码，或将摄像机恢复出厂设置。"}},
    {"CAMERA_HTTP_ERROR",
     {"ログインページが HTTP ステータス %1 を返しました", "the login page answered HTTP status %1",
      "登录页面返回了 HTTP 状态 %1"}},
    {"CAMERA_HTTP_ERROR_FIX",
     {"カメラの電源を入れ直してください。エラーが続く場合はファームウェアを更新するか"
      "初期化してください。",
      "Power-cycle the camera; if the error stays, update or reset its firmware.",
      "请重新为摄像机上电；如错误仍在，请更新或重置其固件。"}},
    {"CAMERA_CERTIFICATE_CHANGED",
     {"カメラの HTTPS 証明書が固定されたものと違います: 固定 SHA-256 %1、現在 %2。"
      "カメラには何も送っていません",
      "the camera's HTTPS certificate is not the pinned one: pinned SHA-256 %1, now %2; "
      "nothing was sent to it",
      "摄像机的 HTTPS 证书不是已固定的证书：已固定 SHA-256 %1，现在 %2；未向其发送任何内容"}},
    {"CAMERA_CERTIFICATE_CHANGED_FIX",
     {"カメラを初期化した、または証明書を更新した場合は \"lanrove-cli trust --mac %1\" "
      "で新しい証明書を受け入れてください。そうでなければ、代わりに応答している機器を"
      "探してください。",
      "If the camera was reset or its certificate renewed, accept the new one with "
      "\"lanrove-cli trust --mac %1\"; otherwise find the device that answers for it.",
      "如果摄像机已被重置或其证书已更新，请用 \"lanrove-cli trust --mac %1\" "
      "接受新证书；否则请找出代替它应答的设备。"}},
    {"CAMERA_FIRMWARE_READY",
     {"ファームウェアチェックでこのカメラの新しいバージョンが見つかりました",
      "the firmware check found a newer version for this camera",
      "固件检查发现此摄像机有更新的版本"}},
    {"CAMERA_FIRMWARE_READY_FIX",
     {"このカメラの F/W 更新を実行してください。", "Run F/W Update for this camera.",
      "请为此摄像机运行固件更新。"}},

    // Other makers' ONVIF cameras.
    {"ONVIF_DEVICE", {"ONVIF 機器", "ONVIF device", "ONVIF 设备"}},
    {"ONVIF_OUTSIDE_SUBNET",
     {"%2 の %1 はどのアダプターのサブネットにも入っていません (%3: %4/%5)",
      "%1 at %2 is outside the subnet of every adapter (%3: %4/%5)",
      "位于 %2 的 %1 不在任何适配器的子网内（%3：%4/%5）"}},
    {"ONVIF_OUTSIDE_SUBNET_FIX",
     {"メーカーのツールや Web ページでカメラに PC のサブネットのアドレスを設定するか、PC "
      "にカメラのサブネットの追加アドレスを設定してください。",
      "Give the camera an address in the PC's subnet with its maker's tool or web page, or "
      "give the PC a secondary address in the camera's subnet.",
      "请用摄像机厂商的工具或网页为其设置电脑子网内的地址，或为电脑添加摄像机子网内的辅助地址。"}},
    {"ONVIF_SERVICE_SILENT",
     {"%2 の %1 は検出に応答しましたが、デバイスサービス %3 が GetSystemDateAndTime "
      "に応答しませんでした",
      "%1 at %2 answered the discovery, but its device service %3 did not answer "
      "GetSystemDateAndTime",
      "位于 %2 的 %1 应答了发现请求，但其设备服务 %3 未应答 GetSystemDateAndTime"}},
    {"ONVIF_SERVICE_SILENT_WHY",
     {"%2 の %1 は検出に応答しましたが、デバイスサービス %3 が GetSystemDateAndTime "
      "に応答しませんでした (%4)",
      "%1 at %2 answered the discovery, but its device service %3 did not answer "
      "GetSystemDateAndTime (%4)",
      "位于 %2 的 %1 应答了发现请求，但其设备服务 %3 未应答 GetSystemDateAndTime（%4）"}},
    {"WHY_NO_HTTP_ADDRESS", {"HTTP アドレスなし", "no http address", "无 HTTP 地址"}},
    {"WHY_BAD_ADDRESS", {"不正なアドレス", "bad address", "地址无效"}},
    {"WHY_TIMEOUT", {"タイムアウト", "timeout", "超时"}},
    {"WHY_UNREACHABLE", {"到達不能", "unreachable", "不可达"}},
    {"WHY_HTTP_ERROR", {"HTTP エラー", "http error", "HTTP 错误"}},
    {"WHY_SOAP_FAULT", {"SOAP フォールト", "soap fault", "SOAP 故障"}},
    {"WHY_OVERSIZED", {"応答が大きすぎます", "oversized", "应答过大"}},
    {"WHY_MALFORMED", {"形式が不正です", "malformed", "格式错误"}},
    {"WHY_NO_TIME", {"時刻なし", "no time", "无时间"}},
    {"WHY_BAD_TIME", {"不正な時刻", "bad time", "时间无效"}},
    {"WHY_TRANSFER_ERROR", {"転送エラー", "transfer error", "传输错误"}},
    {"ONVIF_SERVICE_SILENT_FIX",
     {"カメラの ONVIF サービスが有効で、PC とカメラの間のファイアウォールがそのポートを"
      "遮断していないことを確認してください。",
      "Check that the camera's ONVIF service is switched on and that no firewall between the "
      "PC and the camera blocks its port.",
      "请确认摄像机的 ONVIF 服务已开启，且电脑与摄像机之间没有防火墙阻挡其端口。"}},
    {"ONVIF_CLOCK_AHEAD",
     {"%2 の %1: 時計がこの PC より %3 秒進んでいます",
      "%1 at %2: its clock is %3 s ahead of this PC's", "位于 %2 的 %1：其时钟比本电脑快 %3 秒"}},
    {"ONVIF_CLOCK_BEHIND",
     {"%2 の %1: 時計がこの PC より %3 秒遅れています",
      "%1 at %2: its clock is %3 s behind this PC's", "位于 %2 的 %1：其时钟比本电脑慢 %3 秒"}},
    {"ONVIF_CLOCK_SKEW_FIX",
     {"録画やイベントに正しい時刻が付くよう、カメラの日付と時刻を設定してください (NTP "
      "サーバーの使用を推奨)。",
      "Set the camera's date and time (best: an NTP server) so that its recordings and events "
      "carry the right time.",
      "请设置摄像机的日期和时间（最好使用 NTP 服务器），使其录像和事件带有正确的时间。"}},

    // How a finding is shown: its severity, then code, evidence and fix on one line.
    {"SEVERITY_INFO", {"情報", "info", "信息"}},
    {"SEVERITY_WARNING", {"警告", "warning", "警告"}},
    {"SEVERITY_ERROR", {"エラー", "error", "错误"}},
    {"LINE", {"%1: %2: %3。%4", "%1: %2: %3. %4", "%1: %2: %3。%4"}},
};

constexpr int kEnglish = 1;

std::string englishRow(std::string_view key) {
    for (const FindingTextRow& r : kRows)
        if (key == r.key) return r.text[kEnglish];
    return {};
}

std::string lookUp(const FindingLookup& lookup, std::string_view key) {
    std::string text = lookup ? lookup(key) : std::string();
    return text.empty() ? englishRow(key) : text;
}

}  // namespace

FindingArg wordArg(std::string key, std::string english) {
    FindingArg a(english.empty() ? englishRow(key) : std::move(english));
    a.word = std::move(key);
    return a;
}

std::span<const FindingTextRow> findingTextRows() {
    return {std::begin(kRows), std::end(kRows)};
}

std::string spellFindingText(const FindingText& text, const FindingLookup& lookup) {
    std::string pattern = lookUp(lookup, text.key);
    if (pattern.empty()) pattern = text.key;
    std::string out;
    out.reserve(pattern.size() + 32);
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '%' && i + 1 < pattern.size() && pattern[i + 1] >= '1' && pattern[i + 1] <= '9') {
            const auto n = static_cast<std::size_t>(pattern[i + 1] - '1');
            if (n < text.args.size()) {
                const FindingArg& a = text.args[n];
                std::string value = a.word.empty() ? std::string() : lookUp(lookup, a.word);
                out += value.empty() ? a.text : value;
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

}  // namespace lanrove
