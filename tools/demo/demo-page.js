// The demo's portal page, run by the Windows script host instead of a browser:
// exactly the calls a portal page makes on the control.
//   cscript //nologo demo-page.js http://127.0.0.1:PORT/
// The argument is the download server's address; every other value is what a
// portal would fill in for the logged-in player.
var server = WScript.Arguments.length > 0 ? WScript.Arguments(0) : "http://127.0.0.1/";

var control = new ActiveXObject("Tessacom1.Tessacontrol1");
var init = control.Init;  // empties every property
// Any word but the two setup keywords selects the normal flow.
control.RunMode = "Normal";
control.ProgName = "VeltoDemo";
control.AuthCookie = "VLTW_AUTH=3f9a2c7e51d04b8a";
control.DataCookie = "code=D1234&id=demo_player";
control.AvatarCookie = "avatar=7c1e05b2";
control.ServIP = "192.0.2.10";
control.ServPort = "7000";
control.FullDownURL = server + "full/VeltoDemoSetup.exe";
control.AutoDownURL = server + "manifests/VeltoDemo.txt";
control.CommonURL = server + "manifests/VeltoAvatar.txt";
control.Spare = "DxMin=9";
control.Run();  // starts the launcher and returns after five seconds
WScript.Echo("page: Run returned; the launcher has taken the launch record over");
