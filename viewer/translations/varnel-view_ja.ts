<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja_JP">
<context>
    <name>DeviceList</name>
    <message>
        <source>Device</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Latest</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>LogChartView</name>
    <message>
        <source>%1   value %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open a log with File &gt; Open, or drop a file here.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Waiting for the first row…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Tick devices in the list to chart them.</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>LogFollower</name>
    <message>
        <source>Cannot open %1: %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cannot open %1: not a regular file</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cannot read %1: %2</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>ViewerWindow</name>
    <message>
        <source>Varnel View</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Filter devices</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Open…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open &amp;Folder…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open the Newest Log of a Folder</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open &amp;Recent</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Export Chart as &amp;PNG…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Export Visible Data as &amp;CSV…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;View</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Zoom &amp;In</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Zoom &amp;Out</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Reset Zoom</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Follow the File</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;About Varnel View</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Tools</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>There is no log (*.csv) in %1.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 – Varnel View</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No log open</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>1 row</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 rows</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>1 device</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 devices</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 lines skipped (the first is line %2)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>last line not complete yet</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>file deleted: showing what was read</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>reading…</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>following</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>not following</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&amp;Clear List</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Open Log</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Logs (*.csv);;All files (*)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Cannot write %1.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Chart saved to %1</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>No device is shown: tick the devices to export.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>%1 rows saved to %2</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Export Chart as PNG</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>PNG images (*.png)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source> extract</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Export Visible Data as CSV</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Logs (*.csv)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>About Varnel View</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>&lt;p&gt;&lt;b&gt;Varnel View&lt;/b&gt; %1&lt;/p&gt;&lt;p&gt;Charts the values of a Varnel log and follows the file while it grows.&lt;/p&gt;</source>
        <translation type="unfinished"></translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Charts a Varnel log and follows it while it grows. With a folder, its newest log is opened.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Devices to show first, separated by commas (default: the log&apos;s first eight).</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>list</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Read the file once; do not follow it.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Milliseconds between size checks while following (default 500).</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>ms</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>path</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>A log file (.csv) or a folder of logs.</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>[FILE.csv | FOLDER]</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>one file or folder at most (see --help)</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>--check-interval takes a number of milliseconds, 10 or more</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>cannot open %1</source>
        <translation type="unfinished"></translation>
    </message>
</context>
</TS>
