<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>MAC_APPLICATION_MENU</name>
    <message>
        <source>About %1</source>
        <translation>关于 %1</translation>
    </message>
    <message>
        <source>Hide %1</source>
        <translation>隐藏 %1</translation>
    </message>
    <message>
        <source>Hide Others</source>
        <translation>隐藏其他</translation>
    </message>
    <message>
        <source>Norva</source>
        <translation>青隼</translation>
    </message>
    <message>
        <source>Preferences...</source>
        <translation>偏好设置…</translation>
    </message>
    <message>
        <source>Quit %1</source>
        <translation>退出 %1</translation>
    </message>
    <message>
        <source>Services</source>
        <translation>服务</translation>
    </message>
    <message>
        <source>Show All</source>
        <translation>显示所有</translation>
    </message>
</context>
</TS>
