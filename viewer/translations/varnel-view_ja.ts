<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja_JP">
<context>
    <name>CsvExport</name>
    <message>
        <source>Cannot write %1: %2</source>
        <translation>%1 に書き込めません: %2</translation>
    </message>
</context>
<context>
    <name>DeviceList</name>
    <message>
        <source>Device</source>
        <translation>デバイス</translation>
    </message>
    <message>
        <source>Latest</source>
        <translation>最新値</translation>
    </message>
</context>
<context>
    <name>FolderFollower</name>
    <message>
        <source>There is no log (*.csv) in %1.</source>
        <translation>%1 にログ (*.csv) がありません。</translation>
    </message>
    <message>
        <source>There is no log (*.csv) of those days in %1.</source>
        <translation>%1 にその期間のログ (*.csv) がありません。</translation>
    </message>
</context>
<context>
    <name>LogChartView</name>
    <message>
        <source>%1   value %2</source>
        <translation>%1   値 %2</translation>
    </message>
    <message>
        <source>Open a log with File &gt; Open, or drop a file here.</source>
        <translation>「ファイル」→「開く」でログを開くか、ここにファイルをドロップしてください。</translation>
    </message>
    <message>
        <source>Waiting for the first row…</source>
        <translation>最初の行を待っています…</translation>
    </message>
    <message>
        <source>Tick devices in the list to chart them.</source>
        <translation>一覧でデバイスにチェックを入れると、グラフに表示されます。</translation>
    </message>
</context>
<context>
    <name>LogFollower</name>
    <message>
        <source>Cannot open %1: %2</source>
        <translation>%1 を開けません: %2</translation>
    </message>
    <message>
        <source>Cannot open %1: not a regular file</source>
        <translation>%1 を開けません: 通常のファイルではありません</translation>
    </message>
    <message>
        <source>Cannot read %1: %2</source>
        <translation>%1 を読み込めません: %2</translation>
    </message>
    <message>
        <source>No file to open</source>
        <translation>開くファイルがありません</translation>
    </message>
</context>
<context>
    <name>ViewerWindow</name>
    <message>
        <source>Varnel View</source>
        <translation>Varnel ビュー</translation>
    </message>
    <message>
        <source>Filter devices</source>
        <translation>デバイスを絞り込む</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>ファイル(&amp;F)</translation>
    </message>
    <message>
        <source>&amp;Open…</source>
        <translation>開く(&amp;O)…</translation>
    </message>
    <message>
        <source>Open &amp;Folder…</source>
        <translation>フォルダーを開く(&amp;F)…</translation>
    </message>
    <message>
        <source>Open the Newest Log of a Folder</source>
        <translation>フォルダーの最新のログを開く</translation>
    </message>
    <message>
        <source>Open &amp;Recent</source>
        <translation>最近使ったファイル(&amp;R)</translation>
    </message>
    <message>
        <source>Export Chart as &amp;PNG…</source>
        <translation>グラフを PNG で書き出す(&amp;P)…</translation>
    </message>
    <message>
        <source>Export Visible Data as &amp;CSV…</source>
        <translation>表示中のデータを CSV で書き出す(&amp;C)…</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>終了(&amp;Q)</translation>
    </message>
    <message>
        <source>&amp;View</source>
        <translation>表示(&amp;V)</translation>
    </message>
    <message>
        <source>Zoom &amp;In</source>
        <translation>拡大(&amp;I)</translation>
    </message>
    <message>
        <source>Zoom &amp;Out</source>
        <translation>縮小(&amp;O)</translation>
    </message>
    <message>
        <source>&amp;Reset Zoom</source>
        <translation>ズームを戻す(&amp;R)</translation>
    </message>
    <message>
        <source>&amp;Follow the File</source>
        <translation>ファイルを追跡(&amp;F)</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>ヘルプ(&amp;H)</translation>
    </message>
    <message>
        <source>&amp;About Varnel View</source>
        <translation>Varnel ビューについて(&amp;A)</translation>
    </message>
    <message>
        <source>Tools</source>
        <translation>ツール</translation>
    </message>
    <message>
        <source>%1 – Varnel View</source>
        <translation>%1 – Varnel ビュー</translation>
    </message>
    <message>
        <source>No log open</source>
        <translation>ログを開いていません</translation>
    </message>
    <message>
        <source>1 row</source>
        <translation>1 行</translation>
    </message>
    <message>
        <source>%1 rows</source>
        <translation>%1 行</translation>
    </message>
    <message>
        <source>1 device</source>
        <translation>1 デバイス</translation>
    </message>
    <message>
        <source>%1 devices</source>
        <translation>%1 デバイス</translation>
    </message>
    <message>
        <source>%1 lines skipped (the first is line %2)</source>
        <translation>%1 行を読み飛ばしました (最初は %2 行目)</translation>
    </message>
    <message>
        <source>last line not complete yet</source>
        <translation>最終行はまだ書き込み中です</translation>
    </message>
    <message>
        <source>file deleted: showing what was read</source>
        <translation>ファイルが削除されました: 読み込んだ分を表示しています</translation>
    </message>
    <message>
        <source>reading…</source>
        <translation>読み込み中…</translation>
    </message>
    <message>
        <source>following</source>
        <translation>追跡中</translation>
    </message>
    <message>
        <source>not following</source>
        <translation>追跡していません</translation>
    </message>
    <message>
        <source>&amp;Clear List</source>
        <translation>一覧を消去(&amp;C)</translation>
    </message>
    <message>
        <source>Open Log</source>
        <translation>ログを開く</translation>
    </message>
    <message>
        <source>Logs (*.csv);;All files (*)</source>
        <translation>ログ (*.csv);;すべてのファイル (*)</translation>
    </message>
    <message>
        <source>Cannot write %1.</source>
        <translation>%1 に書き込めません。</translation>
    </message>
    <message>
        <source>Chart saved to %1</source>
        <translation>グラフを %1 に保存しました</translation>
    </message>
    <message>
        <source>No device is shown: tick the devices to export.</source>
        <translation>表示中のデバイスがありません。書き出すデバイスにチェックを入れてください。</translation>
    </message>
    <message>
        <source>%1 rows saved to %2</source>
        <translation>%1 行を %2 に保存しました</translation>
    </message>
    <message>
        <source>Export Chart as PNG</source>
        <translation>グラフを PNG で書き出す</translation>
    </message>
    <message>
        <source>PNG images (*.png)</source>
        <translation>PNG 画像 (*.png)</translation>
    </message>
    <message>
        <source> extract</source>
        <translation> 抜粋</translation>
    </message>
    <message>
        <source>Export Visible Data as CSV</source>
        <translation>表示中のデータを CSV で書き出す</translation>
    </message>
    <message>
        <source>Logs (*.csv)</source>
        <translation>ログ (*.csv)</translation>
    </message>
    <message>
        <source>About Varnel View</source>
        <translation>Varnel ビューについて</translation>
    </message>
    <message>
        <source>&lt;p&gt;&lt;b&gt;Varnel View&lt;/b&gt; %1&lt;/p&gt;&lt;p&gt;Charts the values of a Varnel log and follows the file while it grows.&lt;/p&gt;</source>
        <translation>&lt;p&gt;&lt;b&gt;Varnel ビュー&lt;/b&gt; %1&lt;/p&gt;&lt;p&gt;Varnel のログの値をグラフに描き、ファイルへの追記に合わせて更新します。&lt;/p&gt;</translation>
    </message>
    <message>
        <source>Open &amp;Days of a Folder…</source>
        <translation>フォルダーの期間を開く(&amp;D)…</translation>
    </message>
    <message>
        <source>%1 and 1 older log</source>
        <translation>%1 ほか古いログ 1 件</translation>
    </message>
    <message>
        <source>%1 and %2 older logs</source>
        <translation>%1 ほか古いログ %2 件</translation>
    </message>
    <message>
        <source>Open the Logs of Several Days</source>
        <translation>複数日のログを開く</translation>
    </message>
    <message>
        <source>Days to Show</source>
        <translation>表示する期間</translation>
    </message>
    <message>
        <source>From:</source>
        <translation>開始日:</translation>
    </message>
    <message>
        <source>To:</source>
        <translation>終了日:</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Devices to show first, separated by commas (default: the log&apos;s first eight).</source>
        <translation>最初に表示するデバイス。カンマで区切ります (既定: ログの先頭の 8 個)。</translation>
    </message>
    <message>
        <source>list</source>
        <translation>一覧</translation>
    </message>
    <message>
        <source>Read the file once; do not follow it.</source>
        <translation>ファイルを一度だけ読み込み、追跡しません。</translation>
    </message>
    <message>
        <source>Milliseconds between size checks while following (default 500).</source>
        <translation>追跡中にファイルのサイズを確かめる間隔 (ミリ秒、既定 500)。</translation>
    </message>
    <message>
        <source>ms</source>
        <translation>ミリ秒</translation>
    </message>
    <message>
        <source>path</source>
        <translation>パス</translation>
    </message>
    <message>
        <source>A log file (.csv) or a folder of logs.</source>
        <translation>ログファイル (.csv) またはログのあるフォルダー。</translation>
    </message>
    <message>
        <source>[FILE.csv | FOLDER]</source>
        <translation>[ファイル.csv | フォルダー]</translation>
    </message>
    <message>
        <source>--check-interval takes a number of milliseconds, 10 or more</source>
        <translation>--check-interval には 10 以上のミリ秒数を指定してください</translation>
    </message>
    <message>
        <source>cannot open %1</source>
        <translation>%1 を開けません</translation>
    </message>
    <message>
        <source>needs a graphical session (%1)</source>
        <translation>グラフィカル セッションが必要です (%1)</translation>
    </message>
    <message>
        <source>Try &apos;varnel-view --help&apos; for more information.</source>
        <translation>詳しくは &apos;varnel-view --help&apos; を参照してください。</translation>
    </message>
    <message>
        <source>Charts a Varnel log and follows it while it grows. With a folder, its newest log is opened and followed onto newer logs as they appear.</source>
        <translation>Varnel のログをグラフに描き、追記に合わせて更新します。フォルダーを指定すると、その中の最新のログを開き、新しいログが現れるとそちらに移ります。</translation>
    </message>
    <message>
        <source>With a folder: the logs of the last N days up to today as one timeline, following the newest.</source>
        <translation>フォルダーを指定したとき: 今日までの N 日間のログを 1 本の時系列として開き、最新のログを追跡します。</translation>
    </message>
    <message>
        <source>N</source>
        <translation>N</translation>
    </message>
    <message>
        <source>one file or folder at most</source>
        <translation>指定できるファイルまたはフォルダーは 1 つだけです</translation>
    </message>
    <message>
        <source>--days takes a number of days, 1 to %1</source>
        <translation>--days には 1 から %1 までの日数を指定してください</translation>
    </message>
    <message>
        <source>--days takes a folder, not a file</source>
        <translation>--days はファイルではなくフォルダーに指定してください</translation>
    </message>
</context>
</TS>
